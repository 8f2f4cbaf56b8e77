#include "run/same_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/files.h"

namespace {

TEST(FilesHaveSameBytes, ReadsEveryByteOfRegularFiles) {
    const std::string dir = ::testing::TempDir() + "glimra_same_bytes_test";
    std::filesystem::create_directories(dir);
    const auto file = [&](const std::string& name, const std::string& content) {
        WriteFileBytes(dir + "/" + name, content);
        return dir + "/" + name;
    };
    // Longer than one read chunk, so the last byte lies in a later read.
    const std::string content = std::string(600 * 1024, 'p') + "end";
    std::string changedLast = content;
    changedLast.back() = 'E';
    const std::string original = file("original", content);
    const std::string copy = file("copy", content);
    const std::string lastDiffers = file("last-differs", changedLast);
    const std::string shorter = file("shorter", content.substr(1));
    const std::string empty = file("empty", "");
    const std::string otherEmpty = file("other-empty", "");

    // Both files are left at their start for the loader that comes next.
    const auto same = [](const std::string& a, const std::string& b) {
        std::FILE* fileA = std::fopen(a.c_str(), "rb");
        std::FILE* fileB = std::fopen(b.c_str(), "rb");
        const bool answer = FilesHaveSameBytes(fileA, fileB);
        for (std::FILE* opened : {fileA, fileB}) {
            if (opened != nullptr) {
                EXPECT_EQ(std::ftell(opened), 0) << a << " " << b;
                std::fclose(opened);
            }
        }
        return answer;
    };
    EXPECT_TRUE(same(original, original));
    EXPECT_TRUE(same(original, copy));
    EXPECT_TRUE(same(empty, otherEmpty));
    EXPECT_FALSE(same(original, lastDiffers));
    EXPECT_FALSE(same(original, shorter));
    EXPECT_FALSE(same(original, original + ".missing"));
    // A directory is never taken for a picture file.
    EXPECT_FALSE(same(dir, dir));
    std::filesystem::remove_all(dir);
}

}  // namespace
