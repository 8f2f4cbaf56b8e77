// What counts in a comparison narrowed by the command line: regions left
// out (--ignore), a per-channel tolerance (--tolerance), a perceived
// colour difference (--threshold), anti-aliased pixels left out
// (--antialiasing) and a number of pixels allowed to differ
// (--max-differing). A pair that passes only because of them is similar,
// not identical.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diff/diff_image.h"
#include "image/image.h"

// A rectangle of pixels; width and height at least 1, anywhere (even
// wholly outside a picture, where it leaves out nothing).
struct Region {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
};

struct Scope {
    std::vector<Region> ignored;
    int tolerance = 0;               // 8-bit levels, 0 to 255
    std::uint64_t maxDiffering = 0;  // pixels, unless given as a share
    bool maxAsShare = false;
    double maxPercent = 0;           // of the pixels compared, 0 to 100
    // A pixel counts only when its perceived colour difference (YIQ,
    // colour_delta.h) exceeds `threshold` (0 to 1).
    bool yiq = false;
    double threshold = 0;
    // A counted pixel that is anti-aliasing in either picture does not count.
    bool antialiasing = false;

    bool Perceptual() const { return yiq || antialiasing; }
    bool Active() const {
        return !ignored.empty() || tolerance > 0 || maxDiffering > 0 || maxAsShare || Perceptual();
    }
    // The differing pixels a pair of `compared` pixels may keep and pass.
    std::uint64_t Allowed(std::uint64_t compared) const;
};

// Parses ImageMagick's geometry WxH+X+Y (offsets may be negative:
// WxH-X-Y); false for anything else or a zero width or height.
bool ParseRegion(const std::string& text, Region& region);

// The differing pixels outside the ignored regions, with `tolerance`
// applied, of two pictures of one size and precision; `compared` counts
// the pixels outside the regions, and `differs` tells whether any sample
// differs at all, left out or tolerated or not: one pass decides both.
struct ScopedDifference {
    DiffStats stats;
    std::uint64_t compared = 0;
    bool differs = false;
};
ScopedDifference MeasureInScope(const Image* a, const Image* b, const Scope& scope);

// Marks in `ignored` (width entries) the columns of row `y` inside any
// region; the number of them (0: the row is not touched, and `ignored` is
// left as it was).
std::int64_t MarkIgnoredColumns(const Scope& scope, std::int64_t y, std::int64_t width,
                                std::vector<std::uint8_t>& ignored);

// The largest difference of a pixel's three 24-bit channels.
int ChannelDelta(const std::uint8_t* pa, const std::uint8_t* pb);

// Shows the ignored regions in a difference picture: black in the
// byte-wise modes, where no difference is counted; in the highlight, grey
// stripes over the faded picture, so that a person sees what was left out.
// `difference` may be a band of the picture whose first row is `firstRow`.
void MarkIgnored(Image* difference, DiffMode mode, const Scope& scope, std::int64_t firstRow = 0);
