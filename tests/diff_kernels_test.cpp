#include <gtest/gtest.h>
#include "image/image.h"
TEST(Image, Placeholder2) { Image* i = CreateImage(1, 1); EXPECT_NE(i, nullptr); DestroyImage(i); }
