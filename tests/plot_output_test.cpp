#include "plot/plot_output.h"

#include <gd.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "plot/annotations.h"
#include "plot/plot_layout.h"
#include "tests/support/temp_dir.h"

namespace {

// A finished plot of rowCount rows: the six fixed palette entries and one per row.
GdImage MakePlot(int rowCount, int width = 700) {
    const PlotLayout layout = ComputePlotLayout(width, 500, rowCount, true, false);
    PlotPalette palette;
    GdImage image = CreatePlotImage(layout, {255, 255, 255}, {0, 0, 128}, {255, 255, 0}, palette);
    for (int row = 0; row < rowCount; ++row) {
        DrawRowSeparators(image.get(), palette, layout, row);
        DrawPhaseMarks(image.get(), palette.text, layout, row, 0.0, 60.0, {});
    }
    DrawPlotBorder(image.get(), palette, layout);
    return image;
}

int Byte(const std::string& bytes, size_t at) {
    return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : -1;
}

int Word(const std::string& bytes, size_t at) { return Byte(bytes, at) | Byte(bytes, at + 1) << 8; }

TEST(WritePlotImage, WritesAnInterlacedGif87aWithThePaletteAsColourTable) {
    struct Case {
        int rowCount, height, tableSize;
    };
    const Case cases[] = {
        {1, 503, 8},    // 7 entries
        {2, 503, 8},    // 8 entries
        {10, 501, 16},  // 16 entries
        {11, 493, 32},  // 17 entries
    };
    const int colours[6][3] = {{255, 255, 255}, {0, 0, 128},  {255, 255, 0},
                               {0, 0, 0},       {0, 255, 64}, {0, 0, 255}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rowCount);
        const std::string path = dir.File("plot.gif");
        GdImage image = MakePlot(c.rowCount);
        const int height = gdImageSY(image.get());
        EXPECT_EQ(height, c.height);
        ASSERT_EQ(WritePlotImage(std::move(image), path), 1);

        const std::string gif = ReadFileBytes(path);
        ASSERT_GT(gif.size(), 13u);
        EXPECT_EQ(gif.substr(0, 6), "GIF87a");
        EXPECT_EQ(Word(gif, 6), 700);
        EXPECT_EQ(Word(gif, 8), height);
        const int packed = Byte(gif, 10);
        EXPECT_TRUE(packed & 0x80) << "global colour table";
        EXPECT_EQ(2 << (packed & 7), c.tableSize);
        for (int entry = 0; entry < 6 + c.rowCount; ++entry) {
            SCOPED_TRACE(entry);
            const size_t at = 13 + 3 * static_cast<size_t>(entry);
            const int* rgb = entry < 6 ? colours[entry] : colours[3];
            EXPECT_EQ(Byte(gif, at), rgb[0]);
            EXPECT_EQ(Byte(gif, at + 1), rgb[1]);
            EXPECT_EQ(Byte(gif, at + 2), rgb[2]);
        }
        const size_t descriptor = 13 + 3 * static_cast<size_t>(c.tableSize);
        ASSERT_EQ(Byte(gif, descriptor), 0x2C);
        EXPECT_EQ(Word(gif, descriptor + 1), 0);
        EXPECT_EQ(Word(gif, descriptor + 3), 0);
        EXPECT_EQ(Word(gif, descriptor + 5), 700);
        EXPECT_EQ(Word(gif, descriptor + 7), height);
        EXPECT_TRUE(Byte(gif, descriptor + 9) & 0x40) << "interlace bit";
        EXPECT_EQ(Byte(gif, gif.size() - 1), 0x3B);

        // gd reads back the same pixels.
        GdImage back(
            gdImageCreateFromGifPtr(static_cast<int>(gif.size()), const_cast<char*>(gif.data())));
        ASSERT_TRUE(back);
        GdImage again = MakePlot(c.rowCount);
        int different = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 700; ++x)
                different +=
                    gdImageGetPixel(back.get(), x, y) != gdImageGetPixel(again.get(), x, y);
        EXPECT_EQ(different, 0);
    }
}

TEST(WritePlotImage, ReplacesTheFileThatTheWindowsStylePathNames) {
    TempDir dir;
    dir.Write("Plots/out.gif", std::string(100000, 'x'));
    ASSERT_EQ(WritePlotImage(MakePlot(1), dir.Path() + "\\PLOTS\\OUT.GIF"), 1);
    const std::string gif = ReadFileBytes(dir.File("Plots/out.gif"));
    EXPECT_EQ(gif.substr(0, 6), "GIF87a");
    EXPECT_LT(gif.size(), 100000u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("PLOTS")));
}

TEST(WritePlotImage, ReturnsZeroAndLeavesNoFileWhenTheFileCannotBeCreated) {
    TempDir dir;
    dir.Write("plain", "not a folder");
    std::filesystem::create_directory(dir.File("folder"));
    struct Case {
        const char* name;
        std::string path;
        bool image;
    };
    const Case cases[] = {
        {"missing folder", dir.File("missing/OUT.GIF"), true},
        {"inside a file", dir.File("plain/OUT.GIF"), true},
        {"a folder", dir.File("folder"), true},
        {"empty path", "", true},
        {"no image", dir.File("OUT.GIF"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WritePlotImage(c.image ? MakePlot(3) : GdImage(), c.path), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("OUT.GIF")));
    EXPECT_EQ(ReadFileBytes(dir.File("plain")), "not a folder");
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("folder")));
}

// Replaces PATH for the lifetime of the object.
struct PathOverride {
    explicit PathOverride(const std::string& path) { setenv("PATH", path.c_str(), 1); }
    ~PathOverride() { setenv("PATH", previous.c_str(), 1); }
    const std::string previous = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
};

TEST(PreviewPlotImage, OpensTheFinishedFileOnceWithoutWaiting) {
    TempDir dir;
    // The stand-in viewer records its arguments and a copy of the file it was given, then
    // stays open for 3 s like a real viewer would.
    const std::string viewer = dir.Write("bin/xdg-open",
                                         "#!/bin/sh\n"
                                         "PATH=/usr/bin:/bin\n"
                                         "log=\"$(dirname \"$0\")/../calls\"\n"
                                         "cp \"$1\" \"$log.gif\"\n"
                                         "echo \"$#:$1\" >> \"$log\"\n"
                                         "touch \"$log.done\"\n"
                                         "sleep 3\n");
    ASSERT_EQ(chmod(viewer.c_str(), 0755), 0);
    const std::string output = dir.File("OUT.GIF");
    ASSERT_EQ(WritePlotImage(MakePlot(5), output), 1);

    std::chrono::steady_clock::duration took{};
    {
        PathOverride path(dir.File("bin"));
        const auto before = std::chrono::steady_clock::now();
        PreviewPlotImage(output);
        took = std::chrono::steady_clock::now() - before;
    }
    EXPECT_LT(took, std::chrono::seconds(1)) << "the preview waited for the viewer";

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(dir.File("calls.done")) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(dir.File("calls.done"))) << "the viewer never ran";
    EXPECT_EQ(ReadFileBytes(dir.File("calls")), "1:" + output + "\n");
    EXPECT_EQ(ReadFileBytes(dir.File("calls.gif")), ReadFileBytes(output));
}

TEST(PreviewPlotImage, IgnoresAMissingViewer) {
    TempDir dir;
    const std::string output = dir.File("OUT.GIF");
    ASSERT_EQ(WritePlotImage(MakePlot(1), output), 1);
    PathOverride path(dir.File("nothing-here"));
    PreviewPlotImage(output);
    EXPECT_EQ(ReadFileBytes(output).substr(0, 6), "GIF87a");
}

}  // namespace
