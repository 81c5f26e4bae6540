#include <gtest/gtest.h>

#include <cmath>

#include "dsp/sample_count.h"

namespace {

TEST(TruncateSamples, TakesTheWholeNumberThatTheTimesMissByTheirRounding) {
    struct Case {
        const char* name;
        double samples, rate, expected;
    };
    const Case cases[] = {
        {"a file's count a sliver short", 9999.999999699354, 33.333, 10000.0},
        {"a cut segment's count a sliver short", 6666.999998797416, 33.333, 6667.0},
        {"a sliver past a whole number", 10000.0000003, 33.333, 10000.0},
        {"a whole number", 12150.0, 40.5, 12150.0},
        {"half a sample", 9999.5, 33.333, 9999.0},
        {"a hundredth of a sample", 9999.99, 33.333, 9999.0},
        {"a thousandth of a sample at 100 sps", 5999.999, 100.0, 5999.0},
        {"a sliver below zero", -0.0000001, 100.0, 0.0},
        {"a negative fraction toward zero", -2.5, 100.0, -2.0},
        {"a negative count a sliver past", -19999.999999398708, 33.333, -20000.0},
        {"no rate", 9999.999999699354, 0.0, 9999.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TruncateSamples(c.samples, c.rate), c.expected);
    }
    EXPECT_TRUE(std::isnan(TruncateSamples(std::nan(""), 100.0)));
    EXPECT_TRUE(std::isinf(TruncateSamples(HUGE_VAL, 100.0)));
}

}  // namespace
