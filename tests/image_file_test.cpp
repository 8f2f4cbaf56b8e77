#include "image/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/log.h"
#include "image/atomic_file.h"
#include "support/files.h"

namespace {

TEST(SaveImageFileWithLibrary, PitchBeyondTheLibraryIsAFailureToWrap) {
    // The library takes the row pitch as an int; such a picture cannot be
    // handed to it (no pixels are touched before that is found).
    const Image huge{INT32_MAX / 3 + 1, 1, nullptr};
    const std::string path = ::testing::TempDir() + "never-written.png";
    AtomicFile file(path.c_str());
    try {
        SaveImageFileWithLibrary(&huge, path.c_str(), file);
        ADD_FAILURE() << "saved";
    } catch (const FatalError& error) {
        EXPECT_EQ(error.failure, Failure::BitmapNotMade);
    }
}

TEST(AtomicFile, TargetChangesOnlyOnCommitAndNothingElseStays) {
    const std::string dir = ::testing::TempDir() + "glimra_atomic_file_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string target = dir + "/out.png";
    WriteFileBytes(target, "earlier");
    {
        AtomicFile file(target.c_str());
        ASSERT_NE(file.Stream(), nullptr);
        std::fputs("abandoned", file.Stream());
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(ReadFileBytes(target), "earlier");
    {
        AtomicFile file(target.c_str());
        std::fputs("new", file.Stream());
        EXPECT_EQ(ReadFileBytes(target), "earlier");
        EXPECT_TRUE(file.Commit());
    }
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_TRUE(TempFilesIn(dir).empty());
    {
        // Two writers beside one target get files of their own.
        AtomicFile first(target.c_str());
        AtomicFile second(target.c_str());
        EXPECT_EQ(TempFilesIn(dir).size(), 2u);
        std::fputs("first", first.Stream());
        EXPECT_TRUE(first.Commit());
    }
    EXPECT_EQ(ReadFileBytes(target), "first");
    EXPECT_TRUE(TempFilesIn(dir).empty());

    AtomicFile nowhere((dir + "/missing/out.png").c_str());
    EXPECT_EQ(nowhere.Stream(), nullptr);
    EXPECT_FALSE(nowhere.Commit());
    std::filesystem::remove_all(dir);
}

}  // namespace
