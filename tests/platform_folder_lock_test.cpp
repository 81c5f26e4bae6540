#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/atomic_file.h"
#include "platform/folder_lock.h"
#include "tests/support/temp_dir.h"

TEST(FolderLock, HeldByOneHolderAtATime) {
    TempDir folder;
    {
        FolderLock first;
        ASSERT_EQ(first.Acquire(folder.Path(), 0), 1);
        // Each lock is taken through a descriptor of its own, so a second one in this process
        // waits as one in another process would; without a wait it gives up at once.
        FolderLock second;
        EXPECT_EQ(second.Acquire(folder.Path(), 0), 0);
    }
    FolderLock third;
    EXPECT_EQ(third.Acquire(folder.Path(), 0), 1) << "released with its holder";
    EXPECT_TRUE(std::filesystem::exists(folder.File(".trazplot.lock")));
    FolderLock nowhere;
    EXPECT_EQ(nowhere.Acquire(folder.File("missing"), 0), -1);
}

TEST(AtomicFile, ReplacesATargetWhoseNameHasTheLongestLengthAllowed) {
    TempDir folder;
    const std::string target = folder.Write(std::string(255, 'n'), "earlier");
    AtomicFile file(target);
    ASSERT_TRUE(file.IsOpen());
    std::fputs("later", file.Stream());
    EXPECT_EQ(ReadFileBytes(target), "earlier") << "not before the commit";
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadFileBytes(target), "later");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        entries += entry.is_regular_file();
    EXPECT_EQ(entries, 1) << "no temporary file is left";
}
