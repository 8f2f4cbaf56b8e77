#include "common/log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

#define LOGGED(...) \
    (::testing::internal::CaptureStdout(), LogMessage(__VA_ARGS__), \
     ::testing::internal::GetCapturedStdout())

TEST(LogMessage, PrintsOneLineCutAt1023Characters) {
    EXPECT_EQ(LOGGED("Failed to load %s", "x.png"), "Failed to load x.png\n");
    // A format that ends in a line end gives an empty line after it.
    EXPECT_EQ(LOGGED("Can't save %s\n", "y"), "Can't save y\n\n");
    const std::string exact(1023, 'e');
    EXPECT_EQ(LOGGED("%s", exact.c_str()), exact + "\n");
    const std::string longer(5000, 'l');
    EXPECT_EQ(LOGGED("%s", longer.c_str()), std::string(1023, 'l') + "\n");
}

}  // namespace
