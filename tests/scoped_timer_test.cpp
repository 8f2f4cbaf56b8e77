#include "run/scoped_timer.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(ElapsedMs, ConvertsTicksToMilliseconds) {
    const std::uint64_t second = QueryCounterFrequency();
    EXPECT_FLOAT_EQ(ElapsedMs(second, 0), 1000.0f);
    EXPECT_FLOAT_EQ(ElapsedMs(5 + second / 2, 5), 500.0f);
    EXPECT_FLOAT_EQ(ElapsedMs(7, 7), 0.0f);
    // A counter that wrapped gives a large positive time, never a negative one.
    EXPECT_GT(ElapsedMs(0, 1), 0.0f);
}

}  // namespace
