// The padding contract of the Image buffer, which the kernels rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "common/log.h"
#include "image/image.h"

namespace {

TEST(Image, BufferIsAlignedRoundedAndZeroTailed) {
    const std::pair<int, int> sizes[] = {{1, 1},   {2, 1},    {42, 1},    {43, 1}, {3, 5},
                                         {128, 1}, {1920, 1}, {641, 480}, {1, 1000}};
    for (const auto& [width, height] : sizes) {
        Image* image = CreateImage(width, height);
        const std::size_t payload = ImagePayloadSize(width, height);
        const std::size_t size = ImageBufferSize(width, height);
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->height, height);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->pixels) % 128, 0u);
        EXPECT_EQ(size % 128, 0u);
        EXPECT_GE(size, payload);
        EXPECT_LT(size - payload, 128u);
        for (std::size_t i = payload; i < size; ++i) {
            ASSERT_EQ(image->pixels[i], 0) << width << "x" << height << " tail byte " << i;
        }
        // The whole buffer is writable.
        for (std::size_t i = 0; i < size; ++i) {
            image->pixels[i] = 1;
        }
        DestroyImage(image);
    }
}

TEST(Image, LargeBuffersKeepTheContract) {
    // One-row pictures from 1 MiB to 48 MiB, on both sides of every size
    // at which the memory may come from somewhere else (the heap, mappings).
    for (std::size_t payloadWanted = std::size_t{1} << 20; payloadWanted <= std::size_t{48} << 20;
         payloadWanted = payloadWanted * 3 / 2 + 77) {
        const auto width = static_cast<std::int32_t>(payloadWanted / 3);
        Image* image = CreateImage(width, 1);
        const std::size_t payload = ImagePayloadSize(width, 1);
        const std::size_t size = ImageBufferSize(width, 1);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image->pixels) % 128, 0u) << width;
        for (std::size_t i = payload; i < size; ++i) {
            ASSERT_EQ(image->pixels[i], 0) << width << " tail byte " << i;
        }
        std::memset(image->pixels, 0xEE, size);
        DestroyImage(image);
        // A buffer made again in the freed place still has a zero tail.
        image = CreateImage(width, 1);
        for (std::size_t i = payload; i < size; ++i) {
            ASSERT_EQ(image->pixels[i], 0) << width << " reused tail byte " << i;
        }
        DestroyImage(image);
    }
}

TEST(Image, SizesAreComputedIn64Bits) {
    EXPECT_EQ(ImageBufferSize(1, 1), 128u);
    EXPECT_EQ(ImageBufferSize(128, 1), 384u);  // a multiple of 128: no tail
    EXPECT_EQ(ImageBufferSize(0, 0), 0u);
    EXPECT_EQ(ImageBufferSize(0, 1000), 0u);
    // 1,000,000 x 1432 x 3 is past 4 GiB.
    EXPECT_EQ(ImagePayloadSize(1000000, 1432), 4296000000u);
    EXPECT_EQ(ImageBufferSize(1000000, 1432), 4296000000u);
    EXPECT_EQ(ImageBufferSize(INT32_MAX, INT32_MAX) % 128, 0u);
}

TEST(Image, EmptyPictureHasNoBuffer) {
    Image* image = CreateImage(0, 0);
    EXPECT_EQ(image->width, 0);
    EXPECT_EQ(image->height, 0);
    DestroyImage(image);
    DestroyImage(nullptr);
}

TEST(Image, SameDimensionsComparesWidthAndHeight) {
    const Image a{10, 20, nullptr};
    const Image b{20, 10, nullptr};
    const Image c{10, 20, nullptr};
    EXPECT_FALSE(SameDimensions(&a, &b));
    EXPECT_TRUE(SameDimensions(&a, &c));
}

TEST(Image, AllocationFailureIsAFatalErrorWithTheSize) {
    try {
        CreateImage(INT32_MAX, INT32_MAX);
        ADD_FAILURE() << "allocated";
    } catch (const FatalError& error) {
        EXPECT_EQ(error.failure, Failure::OutOfMemory);
        EXPECT_EQ(error.width, std::uint64_t{INT32_MAX});
        EXPECT_EQ(error.height, std::uint64_t{INT32_MAX});
    }
}

}  // namespace
