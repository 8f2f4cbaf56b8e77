// The row routines the PNG reader runs against their scalar twins, on
// random rows of every pixel size and many lengths.
#include "stream/png_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "support/guarded_memory.h"

namespace {

// Every vector form of the conversions this processor can run, and the
// one the readers choose.
using SwapKernel = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);
using SplitKernel = void (*)(const std::uint8_t*, std::uint8_t*, std::uint8_t*, std::size_t);
#if GLIMRA_HAVE_SSE2
const std::vector<SwapKernel> kSwaps = ProcessorHasSsse3() ? std::vector<SwapKernel>{SwapRedAndBlue_sse2, SwapRedAndBlue_ssse3, SwapRedAndBlue}
                                                   : std::vector<SwapKernel>{SwapRedAndBlue_sse2, SwapRedAndBlue};
const std::vector<SplitKernel> kSplits = ProcessorHasSsse3() ? std::vector<SplitKernel>{SplitRgba_sse2, SplitRgba_ssse3, SplitRgba}
                                                     : std::vector<SplitKernel>{SplitRgba_sse2, SplitRgba};
#else
const std::vector<SwapKernel> kSwaps = {SwapRedAndBlue};
const std::vector<SplitKernel> kSplits = {SplitRgba};
#endif

const UnfilterKernel kScalar[5] = {nullptr, UnfilterSub_scalar, UnfilterUp_scalar,
                                   UnfilterAverage_scalar, UnfilterPaeth_scalar};

TEST(PngRows, UnfilterMatchesScalarTwinsOnRandomRows) {
    std::mt19937 random(2026);
    for (int filter = 1; filter <= 4; ++filter) {
        for (std::size_t bpp = 1; bpp <= 8; ++bpp) {
            for (std::size_t pixels = 1; pixels <= 70; pixels += (pixels < 20 ? 1 : 7)) {
                const std::size_t size = pixels * bpp;
                std::vector<std::uint8_t> row(size + 4);
                std::vector<std::uint8_t> previous(size);
                for (auto& byte : row) {
                    byte = static_cast<std::uint8_t>(random());
                }
                for (auto& byte : previous) {
                    // Extremes often, so that ties and wraps are met.
                    byte = static_cast<std::uint8_t>(random() % 3 == 0 ? (random() % 2) * 255 : random());
                }
                std::vector<std::uint8_t> expected = row;
                kScalar[filter](expected.data(), previous.data(), size, bpp);
                kUnfilter[filter](row.data(), previous.data(), size, bpp);
                // The bytes past the row are never touched.
                EXPECT_EQ(row, expected) << "filter " << filter << ", bpp " << bpp << ", "
                                         << pixels << " pixels";
            }
        }
    }
}

TEST(PngRows, PaethRowRunsMatchTheScalarTwin) {
    std::mt19937 random(4);
    for (std::size_t count = 1; count <= 9; ++count) {
        for (std::size_t bpp = 1; bpp <= 8; ++bpp) {
            for (std::size_t pixels = 1; pixels <= 60; pixels += (pixels < 10 ? 1 : 9)) {
                const std::size_t size = pixels * bpp;
                // Each row has a filter byte's gap after it, as in a file,
                // and the bytes after the last row must stay as they are.
                const std::size_t stride = size + 1;
                std::vector<std::uint8_t> rows(count * stride + 4);
                std::vector<std::uint8_t> previous(size);
                for (auto& byte : rows) {
                    byte = static_cast<std::uint8_t>(random() % 3 == 0 ? (random() % 2) * 255 : random());
                }
                for (auto& byte : previous) {
                    byte = static_cast<std::uint8_t>(random());
                }
                std::vector<std::uint8_t> expected = rows;
                UnfilterPaethRows_scalar(expected.data(), stride, previous.data(), size, bpp, count);
                UnfilterPaethRows(rows.data(), stride, previous.data(), size, bpp, count);
                EXPECT_EQ(rows, expected) << count << " rows, bpp " << bpp << ", " << pixels << " pixels";
            }
        }
    }
}

TEST(PngRows, PaethRowRunsStayInsideTheirRows) {
    // In the reader the last row of a picture ends its block and the row
    // above the first is a buffer of its own: both end at a guard page.
    std::mt19937 random(5);
    for (std::size_t count = 1; count <= 5; ++count) {
        for (std::size_t bpp = 3; bpp <= 4; ++bpp) {
            for (std::size_t pixels = 1; pixels <= 12; ++pixels) {
                const std::size_t size = pixels * bpp;
                const std::size_t stride = size + 1;
                GuardedBytes rows(count * stride - 1);
                GuardedBytes previous(size);
                for (std::size_t i = 0; i < count * stride - 1; ++i) {
                    rows.data[i] = static_cast<std::uint8_t>(random());
                }
                std::vector<std::uint8_t> expected(rows.data, rows.data + count * stride - 1);
                UnfilterPaethRows_scalar(expected.data(), stride, previous.data, size, bpp, count);
                UnfilterPaethRows(rows.data, stride, previous.data, size, bpp, count);
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), rows.data))
                    << count << " rows, bpp " << bpp << ", " << pixels << " pixels";
            }
        }
    }
}

TEST(PngRows, RedAndBlueSwapMatchesScalarTwin) {
    std::mt19937 random(3);
    for (std::size_t width = 1; width <= 80; ++width) {
        std::vector<std::uint8_t> rgb(3 * width);
        for (auto& byte : rgb) {
            byte = static_cast<std::uint8_t>(random());
        }
        // One byte past the row that neither may touch.
        std::vector<std::uint8_t> expected(3 * width + 1, 0xA5);
        std::vector<std::uint8_t> bgr(3 * width + 1, 0xA5);
        SwapRedAndBlue_scalar(rgb.data(), expected.data(), width);
        for (const auto swap : kSwaps) {
            std::fill(bgr.begin(), bgr.end(), 0xA5);
            swap(rgb.data(), bgr.data(), width);
            EXPECT_EQ(bgr, expected) << width << " pixels";
        }
        EXPECT_EQ(expected[0], rgb[2]);
    }
}

TEST(PngRows, RgbaSplitMatchesScalarTwin) {
    std::mt19937 random(5);
    for (std::size_t width = 1; width <= 80; ++width) {
        std::vector<std::uint8_t> rgba(4 * width);
        for (auto& byte : rgba) {
            byte = static_cast<std::uint8_t>(random());
        }
        // One byte past each row that neither may touch.
        std::vector<std::uint8_t> expectedBgr(3 * width + 1, 0xA5);
        std::vector<std::uint8_t> expectedAlpha(width + 1, 0xA5);
        std::vector<std::uint8_t> bgr(3 * width + 1, 0xA5);
        std::vector<std::uint8_t> alpha(width + 1, 0xA5);
        SplitRgba_scalar(rgba.data(), expectedBgr.data(), expectedAlpha.data(), width);
        for (const auto split : kSplits) {
            std::fill(bgr.begin(), bgr.end(), 0xA5);
            std::fill(alpha.begin(), alpha.end(), 0xA5);
            split(rgba.data(), bgr.data(), alpha.data(), width);
            EXPECT_EQ(bgr, expectedBgr) << width << " pixels";
            EXPECT_EQ(alpha, expectedAlpha) << width << " pixels";
        }
        EXPECT_EQ(expectedBgr[0], rgba[2]);
        EXPECT_EQ(expectedAlpha[0], rgba[3]);
    }
}

}  // namespace
