#include <gtest/gtest.h>

#include <string>

#include "app/scoped_timer.h"
#include "common/log.h"
#include "image/image_file.h"
#include "platform/platform.h"

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

TEST(ElapsedMs, ConvertsTicksToMilliseconds) {
    const std::uint64_t second = QueryCounterFrequency();
    EXPECT_FLOAT_EQ(ElapsedMs(second, 0), 1000.0f);
    EXPECT_FLOAT_EQ(ElapsedMs(5 + second / 2, 5), 500.0f);
    EXPECT_FLOAT_EQ(ElapsedMs(7, 7), 0.0f);
    // A counter that wrapped gives a large positive time, never a negative one.
    EXPECT_GT(ElapsedMs(0, 1), 0.0f);
}

TEST(SaveImageFile, PitchBeyondTheLibraryIsAFailureToWrap) {
    // The library takes the row pitch as an int; such a picture cannot be
    // handed to it (no pixels are touched before that is found).
    const Image huge{INT32_MAX / 3 + 1, 1, nullptr};
    ::testing::internal::CaptureStdout();
    EXPECT_THROW(SaveImageFile(&huge, "never-written.png"), FatalError);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Failed to create freeimage for never-written.png\n\n");
}

}  // namespace
