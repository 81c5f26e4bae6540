#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "platform/profile.h"
#include "tests/support/temp_dir.h"

TEST(ReadProfileString, FollowsTheProfileRules) {
    struct Case {
        const char* name;
        std::string file, section, key, defaultValue;
        std::size_t capacity;
        std::string expected;
    };
    const Case cases[] = {
        {"case-insensitive", "[Data]\ndir=x\n", "DATA", "DIR", "d", 63, "x"},
        {"first occurrence wins", "[A]\nK=1\nK=2\n", "A", "K", "d", 63, "1"},
        {"missing section", "[B]\nK=1\n", "A", "K", "d", 63, "d"},
        {"key of another section", "[B]\nK=1\n[A]\nJ=2\n[C]\nK=3\n", "A", "K", "d", 63, "d"},
        {"empty value", "[A]\nK=\n", "A", "K", "d", 63, ""},
        {"white space", "[ A ]\n  K \t=  v w \t\n", "A", "K", "d", 63, "v w"},
        {"double quotes", "[A]\nK=\" v \"\n", "A", "K", "d", 63, " v "},
        {"single quotes", "[A]\nK='v'\n", "A", "K", "d", 63, "v"},
        {"one pair only", "[A]\nK=\"\"v\"\"\n", "A", "K", "d", 63, "\"v\""},
        {"unmatched quote", "[A]\nK=\"v\n", "A", "K", "d", 63, "\"v"},
        {"capacity", "[A]\nK=abcdef\n", "A", "K", "d", 3, "abc"},
        {"default cut", "[A]\n", "A", "K", "defgh", 2, "de"},
        {"CRLF", "[A]\r\nK=v\r\nL=w\r\n", "A", "L", "d", 63, "w"},
        {"byte order mark", "\xEF\xBB\xBF[A]\nK=v\n", "A", "K", "d", 63, "v"},
        {"comment", "[A]\n;K=1\nK=2\n", "A", "K", "d", 63, "2"},
        {"value with '='", "[A]\nK=a=b\n", "A", "K", "d", 63, "a=b"},
        {"no section yet", "K=1\n[A]\n", "A", "K", "d", 63, "d"},
        {"last line without line feed", "[A]\nK=v", "A", "K", "d", 63, "v"},
    };
    TempDir temp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = temp.Write("test.ini", c.file);
        EXPECT_EQ(ReadProfileString(c.section, c.key, c.defaultValue, c.capacity, path),
                  c.expected);
        // The same text held in memory reads the same.
        EXPECT_EQ(ReadProfileStringFromText(c.section, c.key, c.defaultValue, c.capacity, c.file),
                  c.expected);
    }
}

TEST(ReadProfileString, FindsBareNamesInTheWindowsDirectoryAndMapsOtherPaths) {
    TempDir temp;
    temp.Write("win/My.ini", "[A]\nK=windows\n");
    temp.Write("Conf/wave.ini", "[A]\nK=mapped\n");
    std::string windowsPath = "C:" + temp.Path() + "\\CONF\\WAVE.INI";
    for (char& c : windowsPath) {
        if (c == '/')
            c = '\\';
    }
    setenv("WINDIR", temp.File("win").c_str(), 1);
    const std::pair<std::string, std::string> cases[] = {{"MY.INI", "windows"},
                                                         {"OTHER.INI", "d"},
                                                         {windowsPath, "mapped"},
                                                         {temp.File("no.ini"), "d"}};
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadProfileString("A", "K", "d", 63, path), expected);
    }
    unsetenv("WINDIR");
}

TEST(WindowsDirectory, UsesWindirWhenSetElseEtc) {
    setenv("WINDIR", "/opt/win", 1);
    EXPECT_EQ(WindowsDirectory(), "/opt/win");
    setenv("WINDIR", "", 1);
    EXPECT_EQ(WindowsDirectory(), "/etc");
    unsetenv("WINDIR");
    EXPECT_EQ(WindowsDirectory(), "/etc");
}
