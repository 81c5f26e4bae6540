#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "web/index_page.h"

namespace {

// A description of one picture with one row, one pick and one gap, with the given picture
// width, band top, pick column and window start.
std::string Description(const std::string& width, const std::string& top, const std::string& x,
                        const std::string& start) {
    return R"({"image": {"file": "a.gif", "width": )" + width +
           R"(, "height": 100},
 "window": {"start": ")" +
           start + R"(", "end": "2004-03-02T10:10:00.000Z", "mode": "window"},
 "rows": [{"station": "ABEL", "channel": "BHZ", "band": {"top": )" +
           top + R"(, "height": 40},
   "start": "2004-03-02T10:00:00.000Z", "end": "2004-03-02T10:10:00.000Z", "filter": null,
   "scale": {"auto": true, "min": -1, "max": 1}, "completeness": 0.5, "sampleRates": [20],
   "gaps": [{"start": "2004-03-02T10:05:00.000Z", "end": "2004-03-02T10:06:00.000Z"}],
   "picks": [{"phase": "P", "time": "2004-03-02T10:01:00.000Z", "x": )" +
           x + "}]}]}\n";
}

TEST(BuildIndexPage, SkipsDescriptionsWithPixelNumbersOrTimesOutOfRange) {
    const char* const TIME = "2004-03-02T10:00:00.000Z";
    struct Case {
        const char* name;
        std::string width, top, x, start;
        bool shown;
    };
    const Case cases[] = {
        {"as a run writes it", "700", "20", "70", TIME, true},
        {"the largest picture", "65535", "65535", "-65535", TIME, true},
        {"a band top near 2^31", "700", "2147483647", "70", TIME, false},
        {"a pick column near 2^31", "700", "20", "2147483645", TIME, false},
        {"a pick column near -2^31", "700", "20", "-2147483648", TIME, false},
        {"a width beyond 2^63", "18446744073709551615", "20", "70", TIME, false},
        {"a width of 0", "0", "20", "70", TIME, false},
        {"a negative band top", "700", "-1", "70", TIME, false},
        {"a year of more than four digits", "700", "20", "70", "9999999999-3-2T10:00:00Z", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        folder.Write("a.json", Description(c.width, c.top, c.x, c.start));
        PageContents contents;
        const std::string page = BuildIndexPage(folder.Path(), PageSettings(), contents);
        EXPECT_EQ(contents.pictures, c.shown ? 1 : 0);
        EXPECT_EQ(contents.skipped,
                  c.shown ? std::vector<std::string>() : std::vector<std::string>{"a.json"});
        EXPECT_EQ(page.find("a.gif") != std::string::npos, c.shown);
    }
}

TEST(BuildIndexPageFromTexts, GivesThePageOfTheSameFilesInAFolder) {
    const DescriptionText texts[] = {
        {"a.json", Description("700", "20", "70", "2004-03-02T10:00:00.000Z")},
        {"b.json", Description("500", "10", "30", "2004-03-02T11:00:00.000Z")},
        {"c.json", Description("500", "10", "30", "2004-03-02T10:00:00.000Z")},
        {"d.json", "{\"image\": 1}"},
        {"e.json", "not JSON"},
    };
    TempDir folder;
    for (const DescriptionText& text : texts) folder.Write(text.fileName, text.text);
    PageSettings settings;
    settings.title = "Station <ABEL>";
    settings.pictureFolder = "../pics/";
    PageContents fromFolder;
    const std::string folderPage = BuildIndexPage(folder.Path(), settings, fromFolder);
    PageContents fromTexts;
    const std::string textPage = BuildIndexPageFromTexts(
        std::vector<DescriptionText>(std::begin(texts), std::end(texts)), settings, fromTexts);
    EXPECT_EQ(textPage, folderPage);
    EXPECT_EQ(fromTexts.pictures, 3);
    EXPECT_EQ(fromTexts.pictures, fromFolder.pictures);
    EXPECT_EQ(fromTexts.skipped, (std::vector<std::string>{"d.json", "e.json"}));
    EXPECT_EQ(fromTexts.skipped, fromFolder.skipped);
}

}  // namespace
