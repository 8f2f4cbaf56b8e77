// The contracts of the platform layer that the layers above rely on. The
// same tests run natively and, cross-built with mingw-w64, under wine
// against the Windows branch.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsAligned(const void* memory, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(memory) % alignment == 0;
}

TEST(AlignedAlloc, GivesAlignedWritableBlocks) {
    const std::size_t sizes[] = {1, 127, 128, 129, 4096, (std::size_t{64} << 20) + 3};
    const std::size_t alignments[] = {16, 128, 4096};
    for (const std::size_t alignment : alignments) {
        for (const std::size_t size : sizes) {
            SCOPED_TRACE("size " + std::to_string(size) + ", alignment " +
                         std::to_string(alignment));
            auto* block = static_cast<unsigned char*>(AlignedAlloc(size, alignment));
            ASSERT_NE(block, nullptr);
            EXPECT_TRUE(IsAligned(block, alignment));
            std::memset(block, 0xA5, size);
            EXPECT_EQ(block[0], 0xA5);
            EXPECT_EQ(block[size - 1], 0xA5);
            AlignedFree(block);
        }
    }
}

TEST(AlignedAlloc, SizeZeroGivesNullOrAFreeableBlock) {
    void* block = AlignedAlloc(0, 128);
    if (block != nullptr) {
        EXPECT_TRUE(IsAligned(block, 128));
    }
    AlignedFree(block);
    AlignedFree(nullptr);
}

TEST(AlignedAlloc, BlocksAliveTogetherDoNotOverlap) {
    // 127 bytes with 128-byte alignment: the padding an allocator adds must
    // not let one block run into the next.
    std::vector<unsigned char*> blocks;
    for (int i = 0; i < 16; ++i) {
        auto* block = static_cast<unsigned char*>(AlignedAlloc(127, 128));
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
        AlignedFree(block);
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

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
int Format(char* buffer, std::size_t size, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int result = FormatToBuffer(buffer, size, format, args);
    va_end(args);
    return result;
}

TEST(FormatToBuffer, TextThatFitsIsWrittenWholeAndTerminated) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(Format(buffer, sizeof buffer, "%s took %.1f ms", "Perform diff", 12.345), 25);
    EXPECT_STREQ(buffer, "Perform diff took 12.3 ms");
}

TEST(FormatToBuffer, LongerTextIsCutOffWithinTheBuffer) {
    // LogMessage terminates the last byte itself; what it needs is that
    // nothing lands past the buffer and that the bytes before it are the
    // start of the text.
    const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz";
    const std::size_t sizes[] = {1, 2, 8, 35, 36};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        Format(buffer, size, "%s", text.c_str());
        EXPECT_EQ(std::string(buffer, size - 1), text.substr(0, size - 1));
        EXPECT_TRUE(buffer[size - 1] == '\0' || buffer[size - 1] == text[size - 1]);
        EXPECT_EQ(std::string(buffer + size, sizeof buffer - size),
                  std::string(sizeof buffer - size, '#'));
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return "(missing)";
    }
    char chunk[256];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        content.append(chunk, got);
    }
    std::fclose(file);
    return content;
}

bool FileExists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        std::fclose(file);
    }
    return file != nullptr;
}

std::string DirectoryOf(const std::string& path) {
    return path.substr(0, path.find_last_of("/\\"));
}

// A file of our own in the test directory, so that runs side by side never
// meet: the temporary-file maker picks a fresh name.
std::string NewFileHolding(const std::string& content) {
    std::string path;
    std::FILE* file =
        CreateTempFileBeside((::testing::TempDir() + "glimra_platform_test").c_str(), path);
    if (file == nullptr) {
        ADD_FAILURE() << "no file in " << ::testing::TempDir();
        return "";
    }
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
    return path;
}

TEST(ReplaceFile, TempFileBesideTheTargetTakesItsPlace) {
    const std::string target = NewFileHolding("old picture");
    ASSERT_FALSE(target.empty());

    std::string tempPath;
    std::FILE* file = CreateTempFileBeside(target.c_str(), tempPath);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(tempPath, target);
    EXPECT_EQ(DirectoryOf(tempPath), DirectoryOf(target));
    EXPECT_EQ(ReadWholeFile(tempPath), "");

    // Line ends and ^Z pass unchanged: the file is binary, not text.
    const std::string picture("new\npicture\r\n\x1a\0end", 19);
    ASSERT_EQ(std::fwrite(picture.data(), 1, picture.size(), file), picture.size());
    EXPECT_TRUE(SyncAndCloseFile(file));
    EXPECT_EQ(ReadWholeFile(target), "old picture");

    EXPECT_TRUE(ReplaceFileAtomically(tempPath.c_str(), target.c_str()));
    EXPECT_EQ(ReadWholeFile(target), picture);
    EXPECT_FALSE(FileExists(tempPath));

    RemoveFile(target.c_str());
    EXPECT_FALSE(FileExists(target));
}

TEST(ReplaceFile, TempFilesBesideOneTargetGetTheirOwnNames) {
    const std::string target = NewFileHolding("");
    ASSERT_FALSE(target.empty());
    std::string first;
    std::string second;
    std::FILE* firstFile = CreateTempFileBeside(target.c_str(), first);
    std::FILE* secondFile = CreateTempFileBeside(target.c_str(), second);
    ASSERT_NE(firstFile, nullptr);
    ASSERT_NE(secondFile, nullptr);
    EXPECT_NE(first, second);
    std::fclose(firstFile);
    std::fclose(secondFile);
    RemoveFile(first.c_str());
    RemoveFile(second.c_str());
    RemoveFile(target.c_str());
}

TEST(ReplaceFile, NoTempFileInAMissingDirectory) {
    std::string tempPath;
    EXPECT_EQ(CreateTempFileBeside(
                  (::testing::TempDir() + "glimra_no_such_directory/diff.png").c_str(),
                  tempPath),
              nullptr);
}

TEST(ReplaceFile, FailsWhenTheSourceIsMissing) {
    const std::string target = NewFileHolding("kept");
    ASSERT_FALSE(target.empty());
    EXPECT_FALSE(ReplaceFileAtomically((target + ".missing").c_str(), target.c_str()));
    EXPECT_EQ(ReadWholeFile(target), "kept");
    RemoveFile(target.c_str());
}

TEST(SeekFile, ReachesPositionsBeyondTwoGibibytes) {
    // Only one byte is written, far out: the file stays sparse and cheap.
    const std::string path = NewFileHolding("");
    ASSERT_FALSE(path.empty());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const std::int64_t far = (std::int64_t{3} << 30) + 5;
    ASSERT_EQ(SeekFile(file, far, SEEK_SET), 0);
    EXPECT_EQ(TellFile(file), far);
    ASSERT_EQ(std::fputc('z', file), 'z');
    ASSERT_EQ(SeekFile(file, 0, SEEK_END), 0);
    EXPECT_EQ(TellFile(file), far + 1);
    ASSERT_EQ(SeekFile(file, -2, SEEK_CUR), 0);
    EXPECT_EQ(TellFile(file), far - 1);
    std::fclose(file);
    RemoveFile(path.c_str());
}

TEST(FilesHaveSameBytes, ReadsEveryByteOfRegularFiles) {
    // Longer than one read chunk, so the last byte lies in a later read.
    const std::string content = std::string(600 * 1024, 'p') + "end";
    std::string changedLast = content;
    changedLast.back() = 'E';
    const std::string original = NewFileHolding(content);
    const std::string copy = NewFileHolding(content);
    const std::string lastDiffers = NewFileHolding(changedLast);
    const std::string shorter = NewFileHolding(content.substr(1));
    const std::string empty = NewFileHolding("");
    const std::string otherEmpty = NewFileHolding("");

    EXPECT_TRUE(FilesHaveSameBytes(original.c_str(), original.c_str()));
    EXPECT_TRUE(FilesHaveSameBytes(original.c_str(), copy.c_str()));
    EXPECT_TRUE(FilesHaveSameBytes(empty.c_str(), otherEmpty.c_str()));
    EXPECT_FALSE(FilesHaveSameBytes(original.c_str(), lastDiffers.c_str()));
    EXPECT_FALSE(FilesHaveSameBytes(original.c_str(), shorter.c_str()));
    EXPECT_FALSE(FilesHaveSameBytes(original.c_str(), (original + ".missing").c_str()));
    // A directory is never taken for a picture file.
    const std::string directory = DirectoryOf(original);
    EXPECT_FALSE(FilesHaveSameBytes(directory.c_str(), directory.c_str()));

    for (const std::string& path : {original, copy, lastDiffers, shorter, empty, otherEmpty}) {
        RemoveFile(path.c_str());
    }
}

}  // namespace
