// The comparison for screenshots of one page rendered twice: a pixel
// counts when its perceived colour difference exceeds a threshold and, on
// request, when it is not anti-aliasing in either picture. The detector
// is V. Vyšniauskas's (2009) on the 3×3 neighbourhood, as screenshot tools
// apply it; it looks at the neighbours of a pixel's neighbours, two rows
// either way.
#pragma once

#include <cstdint>

#include "diff/scope.h"
#include "image/image.h"

// What became of a pixel, for the highlight.
enum PixelClass : std::uint8_t { kPixelAgrees = 0, kPixelCounts = 1, kPixelAntialiased = 2 };

// The rows a measure decides: rows [first, first + count) of two pictures
// (or bands of rows) whose row 0 is row `top` of pictures `height` rows
// high. Two rows either side of them must be there, where the picture
// has them.
struct DecidedRows {
    std::int32_t top = 0;
    std::int32_t height = 0;
    std::int32_t first = 0;
    std::int32_t count = 0;
};

// Like MeasureInScope, for a scope that is Perceptual(), over the decided
// rows; the regions of `scope` and the stats are in the rows of `a` and
// `b`. Pictures with 16-bit or float samples are measured by their 8-bit
// form and alpha; `differs` still tells whether any stored sample differs.
// With `classes` (width * count bytes), each decided pixel's PixelClass.
ScopedDifference MeasurePerceptual(const Image* a, const Image* b, const DecidedRows& rows, const Scope& scope,
                                   std::uint8_t* classes);
