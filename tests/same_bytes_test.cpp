#include "app/same_bytes.h"

#include <gtest/gtest.h>

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

    EXPECT_TRUE(FilesHaveSameBytes(original.c_str(), original.c_str()));
    EXPECT_TRUE(FilesHaveSameBytes(original.c_str(), copy.c_str()));
    EXPECT_TRUE(FilesHaveSameBytes(empty.c_str(), otherEmpty.c_str()));
    EXPECT_FALSE(FilesHaveSameBytes(original.c_str(), lastDiffers.c_str()));
    EXPECT_FALSE(FilesHaveSameBytes(original.c_str(), shorter.c_str()));
    EXPECT_FALSE(FilesHaveSameBytes(original.c_str(), (original + ".missing").c_str()));
    // A directory is never taken for a picture file.
    EXPECT_FALSE(FilesHaveSameBytes(dir.c_str(), dir.c_str()));
    std::filesystem::remove_all(dir);
}

}  // namespace
