#pragma once

#include "image/image.h"

// What the difference picture holds: per byte the absolute difference or
// the exclusive or, or, for people to look at, the first picture faded to
// grey with the differing pixels in red.
enum class DiffMode { AbsDelta = 0, Xor = 1, Highlight = 2 };

// The difference picture of two pictures of equal size (the caller has
// checked SameDimensions, and brought them to one precision with
// MatchSamples; the size is taken from `a`), or null when no sample
// differs. A pixel whose 24-bit form differs holds the kernel's bytes; one
// that differs only in alpha or below the 8-bit form holds its difference
// scaled to 8 bits (at least 1) in all three channels, and the highlight
// marks it red like any other. The caller owns the result.
Image* CreateDiffImage(const Image* a, const Image* b, DiffMode mode);
// The same into `result`, a picture of the same size whose pixels it
// overwrites; true when some sample differs.
bool DiffInto(const Image* a, const Image* b, DiffMode mode, Image* result);

// The highlight of a perceptual comparison (diff/perceptual.h): rows
// [first, first + count) of `a`, faded, into `out` from its row 0, with the
// pixels of `classes` that count in red and the anti-aliased ones in
// yellow.
void HighlightClasses(const Image* a, std::int32_t first, std::int32_t count, const std::uint8_t* classes,
                      Image* out);

// Whether any sample of two such pictures differs, decided without making
// a difference picture.
bool ImagesDiffer(const Image* a, const Image* b);

// Where and how much two such pictures differ, pixel by pixel (a pixel
// differs when any of its samples does).
struct DiffStats {
    std::uint64_t differingPixels = 0;
    // The smallest rectangle holding them, inclusive; meaningless when
    // none differ.
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    // The largest difference of one channel of one pixel, in 8-bit units
    // as the difference picture holds it.
    int largestDelta = 0;
    // Pixels that would have counted but are anti-aliasing (--antialiasing).
    std::uint64_t antialiasedPixels = 0;
};
DiffStats MeasureDifference(const Image* a, const Image* b);

// Counts pixel (x, y), of difference `delta`, into `stats`; pixels come row
// by row, top first.
inline void CountDifferingPixel(DiffStats& stats, std::int32_t x, std::int32_t y, int delta) {
    if (stats.differingPixels == 0) {
        stats.left = stats.right = x;
        stats.top = y;
    }
    ++stats.differingPixels;
    stats.left = x < stats.left ? x : stats.left;
    stats.right = x > stats.right ? x : stats.right;
    stats.bottom = y;
    stats.largestDelta = delta > stats.largestDelta ? delta : stats.largestDelta;
}
