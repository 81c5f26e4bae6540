#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/row_filter_queue.h"

namespace {

TEST(PlanRowFilterHandover, GroupsRowsFilteredAloneWhileTheyHoldFewSamples) {
    struct Case {
        const char* name;
        double rowSamples;
        bool joined;
        int lanes;
        std::size_t group;
        std::size_t depth;
    };
    const Case cases[] = {
        {"joined, half an hour at 100 sps", 180000, true, 8, 1, 2},
        {"joined, longer than four million samples", 5e6, true, 8, 1, 1},
        {"half an hour at 100 sps, eight lanes", 180000, false, 8, 4, 8},
        {"half an hour at 100 sps, four lanes", 180000, false, 4, 4, 8},
        {"an hour at 100 sps", 360000, false, 8, 2, 4},
        {"a million samples", 1e6, false, 8, 1, 2},
        {"a day at 100 sps", 8.64e6, false, 8, 1, 1},
        {"one lane", 100, false, 1, 1, 2},
        {"few samples, two lanes", 100, false, 2, 2, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RowFilterHandover handover = PlanRowFilterHandover(c.rowSamples, c.joined, c.lanes);
        EXPECT_EQ(handover.group, c.group);
        EXPECT_EQ(handover.depth, c.depth);
    }
}

// Hands count rows to a queue as the row loop does (as many ahead as it wants, the last
// marked) and returns the stations of the rows it hands back, in order.
std::vector<std::string> FilterRows(RowFilterQueue& queue, int count) {
    std::vector<std::string> drawn;
    int taken = 0;
    for (int row = 0; row < count; ++row) {
        while (queue.WantsMore() && taken < count) {
            auto read = std::make_unique<Trace>();
            read->station = "R" + std::to_string(taken++);
            queue.Add(std::move(read), taken == count);
        }
        drawn.push_back(queue.Next()->station);
    }
    return drawn;
}

TEST(RowFilterQueue, FiltersRowsInGroupsAndHandsThemBackInOrder) {
    struct Case {
        const char* name;
        RowFilterHandover handover;
        int rows;
        std::vector<std::vector<std::string>> groups;
    };
    const Case cases[] = {
        {"groups of three, the last one short",
         {3, 6},
         8,
         {{"R0", "R1", "R2"}, {"R3", "R4", "R5"}, {"R6", "R7"}}},
        {"one at a time", {1, 2}, 3, {{"R0"}, {"R1"}, {"R2"}}},
        {"fewer rows than a group", {4, 8}, 2, {{"R0", "R1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The filter thread alone touches groups, one after another.
        std::vector<std::vector<std::string>> groups;
        RowFilterQueue queue(c.handover, [&groups](std::vector<std::unique_ptr<Trace>>& group) {
            groups.emplace_back();
            for (const std::unique_ptr<Trace>& row : group) groups.back().push_back(row->station);
        });
        std::vector<std::string> expected;
        for (int i = 0; i < c.rows; ++i) expected.push_back("R" + std::to_string(i));
        EXPECT_EQ(FilterRows(queue, c.rows), expected);
        EXPECT_EQ(groups, c.groups);
    }
}

TEST(RowFilterQueue, AFailedFilterIsThrownForTheRowsOfItsGroup) {
    RowFilterQueue queue({2, 4}, [](std::vector<std::unique_ptr<Trace>>& group) {
        if (group.front()->station == "R2")
            throw std::runtime_error("no memory");
    });
    int taken = 0;
    const auto add = [&] {
        auto read = std::make_unique<Trace>();
        read->station = "R" + std::to_string(taken++);
        queue.Add(std::move(read), taken == 4);
    };
    while (queue.WantsMore()) add();
    EXPECT_EQ(queue.Next()->station, "R0");
    EXPECT_EQ(queue.Next()->station, "R1");
    EXPECT_THROW(queue.Next(), std::runtime_error);
    EXPECT_THROW(queue.Next(), std::runtime_error);
}

}  // namespace
