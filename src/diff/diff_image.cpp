#include "diff/diff_image.h"

#include <algorithm>
#include <cstring>

#include "diff/deep_diff.h"
#include "diff/diff_kernels.h"
#include "diff/perceptual.h"

namespace {

// Luma, then two thirds of the way to white: the picture stays
// recognisable and no grey is mistaken for the red.
void Fade(const std::uint8_t* pixel, std::uint8_t* out) {
    const unsigned luma = (pixel[0] * 29u + pixel[1] * 150u + pixel[2] * 77u) >> 8;
    const auto faded = static_cast<std::uint8_t>(170 + luma / 3);
    out[0] = out[1] = out[2] = faded;
}

// a's pixels as light greys, those that differ from b's in red (blue,
// green, red order, as every picture here): the picture for people.
bool Highlight(const Image* a, const Image* b, Image* out) {
    const std::size_t pixels = static_cast<std::size_t>(a->width) * static_cast<std::size_t>(a->height);
    bool differ = false;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* pa = a->pixels + 3 * i;
        const std::uint8_t* pb = b->pixels + 3 * i;
        std::uint8_t* po = out->pixels + 3 * i;
        if (pa[0] != pb[0] || pa[1] != pb[1] || pa[2] != pb[2]) {
            po[0] = 0;
            po[1] = 0;
            po[2] = 255;
            differ = true;
        } else {
            Fade(pa, po);
        }
    }
    return differ;
}

bool SamePixel(const std::uint8_t* pa, const std::uint8_t* pb) {
    return pa[0] == pb[0] && pa[1] == pb[1] && pa[2] == pb[2];
}

// Marks in `out` the pixels that differ only beyond their 24-bit form,
// which the kernels left black (or faded): their difference in all three
// channels, or red in the highlight. Pixels whose 24-bit form differs
// keep the kernel's bytes. True when there was any.
bool MarkDeepDifferences(const Image* a, const Image* b, const DeepPair& pair, DiffMode mode,
                         Image* out) {
    bool differ = false;
    for (std::int32_t y = 0; y < a->height; ++y) {
        if (pair.RowsEqual(y)) {
            continue;
        }
        for (std::int32_t x = 0; x < a->width; ++x) {
            const int delta = pair.PixelDelta(x, y);
            const std::size_t at = 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(a->width) +
                                        static_cast<std::size_t>(x));
            if (delta == 0) {
                continue;
            }
            differ = true;
            std::uint8_t* po = out->pixels + at;
            if (mode == DiffMode::Highlight) {
                po[0] = 0;
                po[1] = 0;
                po[2] = 255;
            } else if (SamePixel(a->pixels + at, b->pixels + at)) {
                po[0] = po[1] = po[2] = static_cast<std::uint8_t>(delta);
            }
        }
    }
    return differ;
}

// Counts a row `y` whose pixels differ as `row` tells into `stats`.
void AddRow(DiffStats& stats, const RowDifference& row, std::int32_t y) {
    if (row.pixels == 0) {
        return;
    }
    if (stats.differingPixels == 0) {
        stats.left = row.first;
        stats.right = row.last;
        stats.top = y;
    }
    stats.differingPixels += row.pixels;
    stats.left = std::min(stats.left, row.first);
    stats.right = std::max(stats.right, row.last);
    stats.bottom = y;
    stats.largestDelta = std::max(stats.largestDelta, row.largestDelta);
}

}  // namespace

bool DiffInto(const Image* a, const Image* b, DiffMode mode, Image* result) {
    const std::size_t blocks = DiffBlockCount(ImagePayloadSize(a->width, a->height));
    bool differ =
        mode == DiffMode::Highlight ? Highlight(a, b, result)
        : mode == DiffMode::Xor     ? DiffXor(a->pixels, b->pixels, result->pixels, blocks)
                                    : DiffAbsDelta(a->pixels, b->pixels, result->pixels, blocks);
    const DeepPair pair(a, b);
    if (pair.Active()) {
        differ = MarkDeepDifferences(a, b, pair, mode, result) || differ;
    }
    return differ;
}

void HighlightClasses(const Image* a, std::int32_t first, std::int32_t count, const std::uint8_t* classes,
                      Image* out) {
    const std::size_t pixels = static_cast<std::size_t>(a->width) * static_cast<std::size_t>(count);
    const std::uint8_t* source = a->pixels + 3 * static_cast<std::size_t>(first) * static_cast<std::size_t>(a->width);
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint8_t* po = out->pixels + 3 * i;
        if (classes[i] == kPixelCounts) {
            po[0] = 0;
            po[1] = 0;
            po[2] = 255;
        } else if (classes[i] == kPixelAntialiased) {
            po[0] = 0;
            po[1] = 255;
            po[2] = 255;
        } else {
            Fade(source + 3 * i, po);
        }
    }
}

Image* CreateDiffImage(const Image* a, const Image* b, DiffMode mode) {
    Image* result = CreateImage(a->width, a->height);
    if (!DiffInto(a, b, mode, result)) {
        DestroyImage(result);
        return nullptr;
    }
    return result;
}

bool ImagesDiffer(const Image* a, const Image* b) {
    return CompareBlocks(a->pixels, b->pixels,
                         DiffBlockCount(ImagePayloadSize(a->width, a->height))) ||
           DeepDiffer(DeepPair(a, b), a->height);
}

DiffStats MeasureDifference(const Image* a, const Image* b) {
    DiffStats stats;
    const DeepPair pair(a, b);
    const std::size_t rowBytes = static_cast<std::size_t>(a->width) * 3;
    for (std::int32_t y = 0; y < a->height; ++y) {
        const std::uint8_t* rowA = a->pixels + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* rowB = b->pixels + static_cast<std::size_t>(y) * rowBytes;
        // Most rows of most pairs are equal: memcmp passes them at memory
        // speed, and only the others are looked at pixel by pixel.
        const bool deepRowsEqual = pair.RowsEqual(y);
        if (std::memcmp(rowA, rowB, rowBytes) == 0 && deepRowsEqual) {
            continue;
        }
        if (deepRowsEqual) {
            AddRow(stats, MeasureRow(rowA, rowB, a->width), y);
            continue;
        }
        for (std::int32_t x = 0; x < a->width; ++x) {
            const std::uint8_t* pa = rowA + 3 * static_cast<std::size_t>(x);
            const std::uint8_t* pb = rowB + 3 * static_cast<std::size_t>(x);
            int delta = deepRowsEqual ? 0 : pair.PixelDelta(x, y);
            for (int c = 0; c < 3; ++c) {
                delta = std::max(delta, pa[c] > pb[c] ? pa[c] - pb[c] : pb[c] - pa[c]);
            }
            if (delta != 0) {
                CountDifferingPixel(stats, x, y, delta);
            }
        }
    }
    return stats;
}
