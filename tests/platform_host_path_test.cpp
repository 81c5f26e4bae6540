#include <gtest/gtest.h>

#include <string>

#include "platform/host_path.h"
#include "tests/support/temp_dir.h"

namespace {

std::string ToUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

}  // namespace

TEST(MapHostPath, RewritesWindowsSyntax) {
    struct Case {
        std::string windowsPath, expected;
    };
    const Case cases[] = {
        {"no\\such\\file.txt", "no/such/file.txt"},
        {"C:\\no\\such", "/no/such"},
        {"d:/no/such", "/no/such"},
        {".\\no_such.ini", "./no_such.ini"},
        {"C:\\", "/"},
        {"/no/such/", "/no/such/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowsPath);
        EXPECT_EQ(MapHostPath(c.windowsPath), c.expected);
    }
}

TEST(MapHostPath, MatchesComponentsWithoutRegardToCase) {
    TempDir temp;
    temp.Write("Data/Loop/File.DAT", "x");
    temp.Write("Data/Loop/out.gif", "x");
    temp.Write("Twin/ab", "x");
    temp.Write("Twin/AB", "x");
    temp.Write("Twin/aB", "x");
    const std::string root = temp.Path();
    struct Case {
        std::string windowsPath, expected;
    };
    const Case cases[] = {
        {root + "/DATA/LOOP/FILE.DAT", root + "/Data/Loop/File.DAT"},
        {ToUpper(root) + "\\DATA\\LOOP\\FILE.DAT", root + "/Data/Loop/File.DAT"},
        {root + "/Data/Loop/File.DAT", root + "/Data/Loop/File.DAT"},
        {root + "/DATA/LOOP/OUT.GIF", root + "/Data/Loop/out.gif"},  // existing file reused
        {root + "/DATA/LOOP/NEW.GIF", root + "/Data/Loop/NEW.GIF"},  // new file as given
        {root + "/DATA/NEWDIR/FILE.DAT", root + "/Data/NEWDIR/FILE.DAT"},
        {root + "/TWIN/aB", root + "/Twin/aB"},  // the exact name first
        {root + "/TWIN/Ab", root + "/Twin/AB"},  // else the same choice every time
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowsPath);
        EXPECT_EQ(MapHostPath(c.windowsPath), c.expected);
    }
    // One mapper for all of them, as for a row's files, remembers the folders it walked: the
    // same answers, twice, whatever came before.
    HostPathMapper mapper;
    for (int round = 0; round < 2; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.windowsPath);
            EXPECT_EQ(mapper.Map(c.windowsPath), c.expected);
        }
    }
}
