// The contracts of the platform layer that the layers above rely on. The
// same tests run natively and, cross-built with mingw-w64, under wine
// against the Windows branch.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"

namespace {

bool IsAligned(const void* memory, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(memory) % alignment == 0;
}

TEST(AllocateBuffer, GivesAlignedWritableBlocksOfEverySize) {
    // From a few bytes to sizes the OS maps for us: every block starts where
    // it was asked to and keeps what is written to its first and last byte.
    const std::size_t sizes[] = {1, 127, 128, 129, 4096, (std::size_t{4} << 20) - 1,
                                 std::size_t{4} << 20, (std::size_t{64} << 20) + 3};
    const std::size_t alignments[] = {16, 128, 4096};
    for (const std::size_t alignment : alignments) {
        for (const std::size_t size : sizes) {
            SCOPED_TRACE("size " + std::to_string(size) + ", alignment " +
                         std::to_string(alignment));
            auto* block = static_cast<unsigned char*>(AllocateBuffer(size, alignment));
            ASSERT_NE(block, nullptr);
            EXPECT_TRUE(IsAligned(block, alignment));
            std::memset(block, 0xA5, size);
            EXPECT_EQ(block[0], 0xA5);
            EXPECT_EQ(block[size - 1], 0xA5);
            FreeBuffer(block, size);
        }
    }
    FreeBuffer(nullptr, 0);
}

TEST(AllocateBuffer, BlocksAliveTogetherDoNotOverlap) {
    // 127 bytes with 128-byte alignment: the padding an allocator adds must
    // not let one block run into the next.
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 16; ++i) {
        auto* block = static_cast<unsigned char*>(AllocateBuffer(127, 128));
        ASSERT_NE(block, nullptr);
        std::memset(block, i, 127);
        blocks.push_back(block);
    }
    for (int i = 0; i < 16; ++i) {
        const std::vector<unsigned char> expected(127, static_cast<unsigned char>(i));
        EXPECT_EQ(std::memcmp(blocks[static_cast<std::size_t>(i)], expected.data(), 127), 0)
            << "block " << i;
    }
    for (unsigned char* block : blocks) {
        FreeBuffer(block, 127);
    }
}

TEST(Counter, NeverRunsBackwards) {
    EXPECT_GT(QueryCounterFrequency(), 0u);
    EXPECT_EQ(QueryCounterFrequency(), QueryCounterFrequency());
    std::uint64_t previous = QueryCounterTicks();
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t now = QueryCounterTicks();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(Counter, TicksAtItsStatedFrequency) {
    // The counter's reads enclose the wall-clock interval, so the counted
    // time can only be longer; the bounds are loose on purpose and catch a
    // frequency in the wrong unit, not a slow machine.
    using Clock = std::chrono::steady_clock;
    const std::uint64_t startTicks = QueryCounterTicks();
    const Clock::time_point wallStart = Clock::now();
    while (Clock::now() - wallStart < std::chrono::milliseconds(50)) {
    }
    const std::uint64_t endTicks = QueryCounterTicks();
    const double counted = static_cast<double>(endTicks - startTicks) /
                           static_cast<double>(QueryCounterFrequency());
    EXPECT_GE(counted, 0.049);
    EXPECT_LT(counted, 5.0);
}

// A path of our own in the test directory, so that runs side by side never
// meet.
std::string FreshPath(const char* what) {
    static int made = 0;
    return ::testing::TempDir() + "glimra_platform_test." + std::to_string(CurrentProcessId()) +
           "." + std::to_string(made++) + "." + what;
}

std::string NewFileHolding(const std::string& content) {
    const std::string path = FreshPath("file");
    bool nameTaken = false;
    std::FILE* file = OpenNewFile(path, nameTaken);
    if (file == nullptr) {
        ADD_FAILURE() << "no file in " << ::testing::TempDir();
        return "";
    }
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    return path;
}

TEST(ReplaceFile, NewFileTakesTheTargetsPlace) {
    const std::string target = NewFileHolding("old picture");
    ASSERT_FALSE(target.empty());

    const std::string newPath = target + ".new";
    bool nameTaken = true;
    std::FILE* file = OpenNewFile(newPath, nameTaken);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(nameTaken);
    EXPECT_EQ(ReadFileBytes(newPath), "");

    // Line ends and ^Z pass unchanged: the file is binary, not text.
    const std::string picture("new\npicture\r\n\x1a\0end", 19);
    ASSERT_EQ(std::fwrite(picture.data(), 1, picture.size(), file), picture.size());
    EXPECT_TRUE(SyncAndCloseFile(file));
    EXPECT_EQ(ReadFileBytes(target), "old picture");

    EXPECT_TRUE(ReplaceFileAtomically(newPath.c_str(), target.c_str()));
    EXPECT_EQ(ReadFileBytes(target), picture);
    EXPECT_FALSE(FileExists(newPath));

    RemoveFile(target.c_str());
    EXPECT_FALSE(FileExists(target));
}

TEST(ReplaceFile, NewFileNeverOpensOneThatExists) {
    const std::string taken = NewFileHolding("kept");
    ASSERT_FALSE(taken.empty());
    bool nameTaken = false;
    EXPECT_EQ(OpenNewFile(taken, nameTaken), nullptr);
    EXPECT_TRUE(nameTaken);
    EXPECT_EQ(ReadFileBytes(taken), "kept");
    RemoveFile(taken.c_str());

    // A missing directory is a real failure, not a name taken.
    EXPECT_EQ(OpenNewFile(::testing::TempDir() + "glimra_no_such_directory/diff.png", nameTaken),
              nullptr);
    EXPECT_FALSE(nameTaken);
}

TEST(ReplaceFile, FailsWhenTheSourceIsMissing) {
    const std::string target = NewFileHolding("kept");
    ASSERT_FALSE(target.empty());
    EXPECT_FALSE(ReplaceFileAtomically((target + ".missing").c_str(), target.c_str()));
    EXPECT_EQ(ReadFileBytes(target), "kept");
    RemoveFile(target.c_str());
}

// What QueryOpenFileIdentity says of `path` once opened; false when it
// cannot be opened.
bool IdentityOfPath(const std::string& path, FileIdentity& identity) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    const bool known = QueryOpenFileIdentity(file, identity);
    std::fclose(file);
    return known;
}

TEST(FileIdentity, TellsFilesFromDirectoriesAndKnowsTheirSize) {
    const std::string file = NewFileHolding("twelve bytes");
    const std::string other = NewFileHolding("twelve bytes");
    ASSERT_FALSE(file.empty());
    FileIdentity identity;
    ASSERT_TRUE(IdentityOfPath(file, identity));
    EXPECT_TRUE(identity.isRegular);
    EXPECT_EQ(identity.size, 12u);

#if !defined(_WIN32)
    // Only POSIX opens a directory like a file.
    FileIdentity directory;
    ASSERT_TRUE(IdentityOfPath(file.substr(0, file.find_last_of('/')), directory));
    EXPECT_FALSE(directory.isRegular);
#endif
    FileIdentity missing;
    EXPECT_FALSE(IdentityOfPath(file + ".missing", missing));

    // Where the system names files a file is itself; two files never pass
    // for one, whatever they hold.
    FileIdentity again;
    ASSERT_TRUE(IdentityOfPath(file, again));
    EXPECT_EQ(SameFile(identity, again), identity.fileNumber != 0);
    FileIdentity otherIdentity;
    ASSERT_TRUE(IdentityOfPath(other, otherIdentity));
    EXPECT_FALSE(SameFile(identity, otherIdentity));
    RemoveFile(file.c_str());
    RemoveFile(other.c_str());
}

}  // namespace
