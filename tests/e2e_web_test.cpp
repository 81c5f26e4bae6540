// The web page of a folder of pictures (/HTML), as a real browser shows it: Debian's chromium
// in headless mode, its parsed document (--dump-dom) and its pixels (--screenshot).

#include <gd.h>
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/e2e_harness.h"
#include "tests/support/gif_probe.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int PAGE_WIDTH = 760;
constexpr int PAGE_HEIGHT = 2400;

// Runs headless chromium on a page with its own empty profile and no network of its own;
// extra gives --dump-dom or --screenshot=FILE.
ProcessResult Browse(const std::string& page, const std::string& extra) {
    TempDir profile;
    return RunProcess(
        "/usr/bin/chromium",
        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--user-data-dir=" + profile.Path(), "--force-device-scale-factor=1",
         "--force-color-profile=srgb", "--hide-scrollbars", "--log-level=3",
         "--window-size=" + std::to_string(PAGE_WIDTH) + "," + std::to_string(PAGE_HEIGHT), extra,
         "file://" + page},
        profile.Path(), {"HOME=" + profile.Path(), "LANG=C.UTF-8"}, 120.0);
}

// Returns every match of the first group of pattern in text, in order.
std::vector<std::string> All(const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it)
        found.push_back((*it)[1]);
    return found;
}

// True when the screenshot shows the picture's top-left corner (its header) somewhere, pixel
// for pixel.
bool ShowsPicture(gdImagePtr screenshot, gdImagePtr picture) {
    const int w = 64;
    const int h = 16;
    const auto same = [&](int x0, int y0) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int shown = gdImageGetTrueColorPixel(screenshot, x0 + x, y0 + y);
                const int index = gdImageGetPixel(picture, x, y);
                if (gdTrueColorGetRed(shown) != gdImageRed(picture, index) ||
                    gdTrueColorGetGreen(shown) != gdImageGreen(picture, index) ||
                    gdTrueColorGetBlue(shown) != gdImageBlue(picture, index))
                    return false;
            }
        }
        return true;
    };
    for (int y0 = 0; y0 + h <= gdImageSY(screenshot); ++y0) {
        for (int x0 = 0; x0 + w <= gdImageSX(screenshot); ++x0) {
            if (same(x0, y0))
                return true;
        }
    }
    return false;
}

class WebPage : public BackendRun {};

TEST_P(WebPage, ShowsEveryPictureOfTheFolderNewestFirstWithItsMapAndBadges) {
    // BORA has a gap of 10 s at 10:15, DUNK lacks its file of 10:15 to 10:20.
    ASSERT_TRUE(
        folder->Generate({"--stations", "5", "--channels", "BHZ", "--span", "1800", "--segment",
                          "300", "--sps", "20", "--defects", "--events", "1"}));
    folder->WriteWorkFile("foreign.json", "{\"a\": 1}\n");
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n");
    ProcessResult result = folder->Run(
        {"tbeg=10:01:00 02.03.2004", "nsec=1500", "file=one.gif", "/HTML", "/GAPS", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    EXPECT_EQ(result.errors, "Skipping foreign.json: not an image description of trazplot\n");
    folder->WriteWaveIni("[WAVEFORMS]\nN#=2\n\n[STA0]\nSTA=BORA\n\n[STA1]\nSTA=DUNK\n");
    result = folder->Run(
        {"tbeg=10:05:00 02.03.2004", "nsec=1500", "file=pair.gif", "/HTML", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    // The drum reaches an hour past the recording's end: its last three rows have no data.
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n\n[WEB]\nTITLE=Drums & <more>\n");
    result = folder->Run(
        {"tbeg=09:59:00 02.03.2004", "nsec=3600:600", "file=drum.gif", "/HTML", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);

    const std::string page = folder->WorkFile("index.html");
    const ProcessResult dom = Browse(page, "--dump-dom");
    ASSERT_EQ(dom.status, 0) << dom.errors;
    const std::string& html = dom.output;
    // One figure per description, newest window first.
    EXPECT_EQ(All(html, "<img src=\"([^\"]*)\""),
              (std::vector<std::string>{"PAIR.GIF", "ONE.GIF", "DRUM.GIF"}));
    EXPECT_EQ(All(html, "<title>([^<]*)</title>"),
              (std::vector<std::string>{"Drums &amp; &lt;more&gt;"}));
    // Every row has its band area, named by its station.
    const std::vector<std::string> titles = All(html, "<area [^>]*title=\"([^\"]*)\"");
    for (const char* station : {"ABEL BHZ", "BORA BHZ", "DUNK BHZ"}) {
        int bands = 0;
        for (const std::string& title : titles)
            bands += title.rfind(std::string(station) + ", ", 0) == 0;
        EXPECT_GE(bands, 1) << station;
    }
    // Badges by completeness: DUNK 80 % (it picked the event first), BORA 99.3 %, the
    // drum's rows after 10:30 none.
    EXPECT_EQ(All(html, "class=\"badge ([a-z]+)\""),
              (std::vector<std::string>{"poor", "fair", "good", "good", "good", "good", "none",
                                        "none", "none"}));
    // Nothing is fetched from outside the folder: no scripts, style sheets, frames or
    // objects, and every source is a file name of the folder.
    for (const char* element : {"<script", "<link", "<iframe", "<object", "<embed", "url("})
        EXPECT_EQ(html.find(element), std::string::npos) << element;
    for (const std::string& reference : All(html, "(?:src|href)=\"([^\"]*)\""))
        EXPECT_EQ(reference.find_first_of(":/\\"), std::string::npos) << reference;

    // The browser shows every picture with its own colours.
    TempDir shots;
    const std::string shot = shots.File("page.png");
    const ProcessResult screenshot = Browse(page, "--screenshot=" + shot);
    ASSERT_EQ(screenshot.status, 0) << screenshot.errors;
    const GdPicture shown = ReadPicture(shot);
    ASSERT_TRUE(shown);
    for (const char* picture : {"PAIR.GIF", "ONE.GIF", "DRUM.GIF"}) {
        const GdPicture image = ReadPicture(folder->WorkFile(picture));
        ASSERT_TRUE(image) << picture;
        EXPECT_TRUE(ShowsPicture(shown.get(), image.get())) << picture;
    }
    // And the badges in their colours: green, amber, red and grey.
    for (const int colour : {0x00A000, 0xFFB000, 0xC80000, 0xA0A0A0}) {
        int pixels = 0;
        for (int y = 0; y < gdImageSY(shown.get()); ++y) {
            for (int x = 0; x < gdImageSX(shown.get()); ++x)
                pixels += (gdImageGetTrueColorPixel(shown.get(), x, y) & 0xFFFFFF) == colour;
        }
        EXPECT_GT(pixels, 200) << std::hex << colour;
    }
}

TEST_P(WebPage, KeepsHostileCodesAndPhaseNamesAsText) {
    folder->WriteWaveIni(
        "[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=<b>\nCH=\"&'\n\n[WEB]\nINDEX=page.html\nREFRESH=0\n");
    ASSERT_TRUE(source->ExecuteSql(
        ArrivalInsert("<b>", "\"&'", "<i>x</i>", ARCHIVE_START + 60.0, 1.0, "E1")));
    const ProcessResult result =
        folder->Run({"tbeg=10:00:00 02.03.2004", "nsec=600", "file=odd.gif", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_OK);
    const std::string written = ReadFileBytes(folder->WorkFile("page.html"));
    EXPECT_EQ(written.find("http-equiv=\"refresh\""), std::string::npos);
    const ProcessResult dom = Browse(folder->WorkFile("page.html"), "--dump-dom");
    ASSERT_EQ(dom.status, 0) << dom.errors;
    // No element of the archive's making: only the text of the codes and the phase name.
    EXPECT_EQ(dom.output.find("<b>"), std::string::npos);
    EXPECT_EQ(dom.output.find("<i>"), std::string::npos);
    EXPECT_NE(dom.output.find("&lt;b&gt;"), std::string::npos);
    EXPECT_NE(dom.output.find("&lt;i&gt;x&lt;/i&gt;"), std::string::npos);
    const std::vector<std::string> titles = All(dom.output, "<area [^>]*title=\"([^\"]*)\"");
    // The pick's mark, the row's one gap (it has no data), the row's band.
    ASSERT_EQ(titles.size(), 3u);
    // The browser writes the attribute back with its own references.
    EXPECT_EQ(titles[0], "&lt;i&gt;x&lt;/i&gt; 2004-03-02 10:01:00.000 UTC, &lt;b&gt; &quot;&amp;'")
        << titles[0];
}

TEST_P(WebPage, ReachesPicturesOfAnotherFolderByEncodedRelativeReferences) {
    ASSERT_TRUE(folder->Generate({"--stations", "1", "--channels", "BHZ", "--span", "600",
                                  "--segment", "300", "--sps", "20", "--events", "0"}));
    // Each case draws into a picture folder of its own.
    for (const char* made :
         {"pics/site/notes.txt", "odd/notes.txt", "below/notes.txt", "site/notes.txt"})
        folder->WriteWorkFile(made, "");
    struct Case {
        std::string what;
        std::string picture;  // [WAVEFORMS] FILE=
        std::string page;     // [WEB] INDEX=
        std::string pagePath;
        std::string source;  // the picture's reference in the page
    };
    const Case cases[] = {
        {"a page in a folder below the pictures'", "pics\\x.gif", "pics\\site\\index.html",
         "pics/site/index.html", "../x.gif"},
        {"names a URL would read otherwise", "odd\\a b#1%?&.gif", "index.html", "odd/index.html",
         "a%20b%231%25%3F%26.gif"},
        {"a page in a folder beside the pictures'", "below\\x.gif", "site\\index.html",
         "site/index.html", "../below/x.gif"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folder->WriteWaveIni("[WAVEFORMS]\nN#=1\nFILE=" + c.picture +
                             "\n\n[STA0]\nSTA=ABEL\n\n[WEB]\nREFRESH=0\nINDEX=" + c.page + "\n");
        const ProcessResult result =
            folder->Run({"tbeg=10:00:00 02.03.2004", "nsec=600", "/NOPREVIEW"});
        EXPECT_EQ(result.status, SHELL_OK);
        EXPECT_EQ(result.errors, "");
        const std::string page = folder->WorkFile(c.pagePath);
        EXPECT_EQ(All(ReadFileBytes(page), "<img src=\"([^\"]*)\""),
                  std::vector<std::string>{c.source});
    }
    // The browser finds the pictures through the references.
    const std::pair<std::string, std::string> pagesAndPictures[] = {
        {"site/index.html", "below/x.gif"}, {"odd/index.html", "odd/a b#1%?&.gif"}};
    for (const auto& [page, picture] : pagesAndPictures) {
        SCOPED_TRACE(page);
        TempDir shots;
        const std::string shot = shots.File("page.png");
        const ProcessResult screenshot = Browse(folder->WorkFile(page), "--screenshot=" + shot);
        ASSERT_EQ(screenshot.status, 0) << screenshot.errors;
        const GdPicture shown = ReadPicture(shot);
        const GdPicture image = ReadPicture(folder->WorkFile(picture));
        ASSERT_TRUE(shown && image);
        EXPECT_TRUE(ShowsPicture(shown.get(), image.get()));
    }
}

TEST_P(WebPage, EndsWithMinusSevenWhenThePageCannotBeWritten) {
    folder->WriteWaveIni("[WAVEFORMS]\nN#=1\n\n[STA0]\nSTA=ABEL\n");
    folder->WriteWorkFile("index.html/keep", "");
    const ProcessResult result =
        folder->Run({"tbeg=10:00:00 02.03.2004", "nsec=600", "/HTML", "/NOPREVIEW"});
    EXPECT_EQ(result.status, SHELL_EXPORT_WRITE);
    EXPECT_EQ(result.errors, "Cannot write web page index.html!\n");
    EXPECT_TRUE(ReadPicture(folder->WorkFile("OUT.GIF")));
    EXPECT_FALSE(ReadFileBytes(folder->WorkFile("OUT.json")).empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, WebPage, testing::ValuesIn(ALL_BACKENDS), BackendParamName);

}  // namespace
