#include "diff/perceptual.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "diff/colour_delta.h"
#include "diff/deep_diff.h"

namespace {

// One picture's pixels as Rgba words: its 24-bit form and its alpha,
// whichever plane holds it.
class PixelWords {
public:
    explicit PixelWords(const Image* image)
        : width(static_cast<std::size_t>(image->width)), pixels(image->pixels), alpha(image->alpha),
          wide(image->samples == Samples::Bits16 ? static_cast<const std::uint16_t*>(image->deep) : nullptr),
          floats(image->samples == Samples::Float ? static_cast<const float*>(image->deep) : nullptr) {}

    Rgba At(std::int32_t x, std::int32_t y) const {
        const std::size_t at = static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
        return PackRgba(pixels + 3 * at, AlphaAt(at));
    }

private:
    std::uint8_t AlphaAt(std::size_t at) const {
        if (alpha != nullptr) {
            return alpha[at];
        }
        if (wide != nullptr) {
            // The 8-bit form of a 16-bit sample is its high byte.
            return static_cast<std::uint8_t>(wide[4 * at + 3] >> 8);
        }
        if (floats == nullptr) {
            return 255;
        }
        const float value = floats[4 * at + 3];
        // NaN fails both tests and is opaque.
        return value <= 0.0f ? 0 : !(value < 1.0f) ? 255 : static_cast<std::uint8_t>(value * 255.0f + 0.5f);
    }

    // Copies, not the picture: the compiler keeps them in registers.
    std::size_t width;
    const std::uint8_t* pixels;
    const std::uint8_t* alpha;
    const std::uint16_t* wide;
    const float* floats;
};

// Where the pictures end, for the detector: a pixel on an edge counts the
// missing side as one neighbour of its own colour.
struct Geometry {
    std::int32_t width;
    std::int32_t top;     // the picture row of row 0
    std::int32_t height;  // of the picture
};

// A pixel's 3×3 neighbourhood, clipped to the picture.
struct Neighbourhood {
    std::int32_t x0, x1, y0, y1;
    bool atEdge;
};

Neighbourhood Around(const Geometry& g, std::int32_t x, std::int32_t y) {
    const std::int32_t row = g.top + y;
    Neighbourhood n{x > 0 ? x - 1 : x, x + 1 < g.width ? x + 1 : x, row > 0 ? y - 1 : y,
                    row + 1 < g.height ? y + 1 : y, false};
    n.atEdge = n.x0 == x || n.x1 == x || n.y0 == y || n.y1 == y;
    return n;
}

// Three or more neighbours of the pixel's own colour, the edge counting as one.
bool HasManySiblings(const PixelWords& pixels, const Geometry& g, std::int32_t x, std::int32_t y) {
    const Neighbourhood n = Around(g, x, y);
    const Rgba colour = pixels.At(x, y);
    int equal = n.atEdge ? 1 : 0;
    for (std::int32_t ny = n.y0; ny <= n.y1; ++ny) {
        for (std::int32_t nx = n.x0; nx <= n.x1; ++nx) {
            if ((nx != x || ny != y) && pixels.At(nx, ny) == colour && ++equal >= 3) {
                return true;
            }
        }
    }
    return false;
}

// Whether pixel (x, y) of `pixels` is anti-aliasing: fewer than three
// neighbours of its colour, both a darker and a brighter one, and the
// darkest or the brightest of them (the first found, row by row) firmly
// inside a flat area in both pictures.
bool Antialiased(const PixelWords& pixels, const PixelWords& other, const Geometry& g, std::int32_t x,
                 std::int32_t y) {
    const Neighbourhood n = Around(g, x, y);
    const Rgba colour = pixels.At(x, y);
    const double brightness = Brightness(colour);
    int equal = n.atEdge ? 1 : 0;
    double least = 0;
    double most = 0;
    std::int32_t leastX = 0, leastY = 0, mostX = 0, mostY = 0;
    for (std::int32_t ny = n.y0; ny <= n.y1; ++ny) {
        for (std::int32_t nx = n.x0; nx <= n.x1; ++nx) {
            if (nx == x && ny == y) {
                continue;
            }
            const Rgba neighbour = pixels.At(nx, ny);
            if (neighbour == colour) {
                if (++equal >= 3) {
                    return false;
                }
                continue;
            }
            // Negative: the neighbour is brighter.
            const double delta = brightness - Brightness(neighbour);
            if (delta < least) {
                least = delta;
                leastX = nx;
                leastY = ny;
            } else if (delta > most) {
                most = delta;
                mostX = nx;
                mostY = ny;
            }
        }
    }
    if (least == 0 || most == 0) {
        return false;
    }
    return (HasManySiblings(pixels, g, leastX, leastY) || HasManySiblings(pixels, g, mostX, mostY)) &&
           (HasManySiblings(other, g, leastX, leastY) || HasManySiblings(other, g, mostX, mostY));
}

// The pixels of one row that differ and are not left out, and what the
// colour measure says of them: room for a row, kept across rows.
class RowCandidates {
public:
    explicit RowCandidates(std::int32_t width)
        : padded(static_cast<std::size_t>(width) + kYiqBatch), columns(padded), red(padded), green(padded),
          blue(padded), beyond(padded) {}

    void Clear() { count = 0; }
    void Add(std::int32_t x) { columns[count++] = x; }
    std::size_t Count() const { return count; }
    std::int32_t Column(std::size_t k) const { return columns[k]; }
    bool Beyond(std::size_t k) const { return beyond[k] != 0; }

    // Each candidate's verdict: ΔE beyond `limit`, or, without the
    // measure, any stored sample differs (it does, or it would not be one).
    void Measure(const PixelWords& a, const PixelWords& b, std::int32_t y, const Scope& scope);

private:
    std::size_t padded;
    std::vector<std::int32_t> columns;
    std::vector<std::int16_t> red, green, blue;
    std::vector<std::uint8_t> beyond;
    std::vector<std::size_t> blended;  // candidates not opaque in both pictures
    std::size_t count = 0;
};

void RowCandidates::Measure(const PixelWords& a, const PixelWords& b, std::int32_t y, const Scope& scope) {
    if (!scope.yiq) {
        std::fill(beyond.begin(), beyond.begin() + static_cast<std::ptrdiff_t>(count), 1);
        return;
    }
    const std::int64_t limit = YiqLimit(scope.threshold);
    blended.clear();
    for (std::size_t k = 0; k < count; ++k) {
        const Rgba pa = a.At(columns[k], y);
        const Rgba pb = b.At(columns[k], y);
        if ((pa & pb) >> 24 != 255) {
            blended.push_back(k);
        }
        const auto channel = [&](int shift) {
            return static_cast<std::int16_t>(static_cast<int>((pa >> shift) & 0xff) - static_cast<int>((pb >> shift) & 0xff));
        };
        red[k] = channel(0);
        green[k] = channel(8);
        blue[k] = channel(16);
    }
    const std::size_t batches = (count + kYiqBatch - 1) / kYiqBatch * kYiqBatch;
    std::fill(red.begin() + static_cast<std::ptrdiff_t>(count), red.begin() + static_cast<std::ptrdiff_t>(batches), 0);
    std::fill(green.begin() + static_cast<std::ptrdiff_t>(count), green.begin() + static_cast<std::ptrdiff_t>(batches), 0);
    std::fill(blue.begin() + static_cast<std::ptrdiff_t>(count), blue.begin() + static_cast<std::ptrdiff_t>(batches), 0);
    YiqBeyond(ChannelDifferences{red.data(), green.data(), blue.data()}, count, limit, beyond.data());
    // Pixels that are not both opaque blend over white first.
    for (const std::size_t k : blended) {
        beyond[k] = YiqDelta(a.At(columns[k], y), b.At(columns[k], y)) > limit ? 1 : 0;
    }
}

// Adds to `candidates` the columns of row y where any stored sample
// differs, outside the regions left out.
void FindCandidates(const Image* a, const Image* b, const DeepPair& pair, bool deepRowsEqual, std::int32_t y,
                    const std::vector<std::uint8_t>* ignored, RowCandidates& candidates) {
    const std::size_t rowBytes = static_cast<std::size_t>(a->width) * 3;
    const std::uint8_t* rowA = a->pixels + static_cast<std::size_t>(y) * rowBytes;
    const std::uint8_t* rowB = b->pixels + static_cast<std::size_t>(y) * rowBytes;
    std::size_t offset = 0;
    while (offset < rowBytes) {
        // Where only the 24-bit forms differ, equal stretches pass eight
        // bytes at a time.
        if (deepRowsEqual && offset + 8 <= rowBytes && std::memcmp(rowA + offset, rowB + offset, 8) == 0) {
            offset += 8;
            continue;
        }
        const auto x = static_cast<std::int32_t>(offset / 3);
        offset = 3 * static_cast<std::size_t>(x) + 3;
        const bool differs = std::memcmp(rowA + 3 * static_cast<std::size_t>(x), rowB + 3 * static_cast<std::size_t>(x), 3) != 0 ||
                             (!deepRowsEqual && pair.PixelDelta(x, y) != 0);
        if (differs && (ignored == nullptr || (*ignored)[static_cast<std::size_t>(x)] == 0)) {
            candidates.Add(x);
        }
    }
}

// Whether the pixel also exceeds --tolerance, as MeasureInScope has it.
bool BeyondTolerance(const DeepPair& pair, bool deepRowsEqual, int channels, std::int32_t x, std::int32_t y,
                     int tolerance) {
    if (tolerance == 0) {
        return true;
    }
    const bool deepDecides = pair.ComparedSamples() != Samples::Bits8;
    return (!deepRowsEqual && pair.PixelBeyond(x, y, tolerance)) || (!deepDecides && channels > tolerance);
}

}  // namespace

ScopedDifference MeasurePerceptual(const Image* a, const Image* b, const DecidedRows& rows, const Scope& scope,
                                   std::uint8_t* classes) {
    ScopedDifference result;
    const DeepPair pair(a, b);
    const PixelWords wordsA(a);
    const PixelWords wordsB(b);
    const Geometry geometry{a->width, rows.top, rows.height};
    const auto width = static_cast<std::size_t>(a->width);
    std::vector<std::uint8_t> ignored(width);
    RowCandidates candidates(a->width);
    if (classes != nullptr) {
        std::memset(classes, kPixelAgrees, width * static_cast<std::size_t>(rows.count));
    }
    for (std::int32_t y = rows.first; y < rows.first + rows.count; ++y) {
        const std::int64_t ignoredHere = MarkIgnoredColumns(scope, y, a->width, ignored);
        result.compared += width - static_cast<std::size_t>(ignoredHere);
        const std::uint8_t* rowA = a->pixels + static_cast<std::size_t>(y) * width * 3;
        const std::uint8_t* rowB = b->pixels + static_cast<std::size_t>(y) * width * 3;
        const bool deepRowsEqual = pair.RowsEqual(y);
        if (deepRowsEqual && std::memcmp(rowA, rowB, width * 3) == 0) {
            continue;
        }
        result.differs = true;
        candidates.Clear();
        FindCandidates(a, b, pair, deepRowsEqual, y, ignoredHere > 0 ? &ignored : nullptr, candidates);
        candidates.Measure(wordsA, wordsB, y, scope);
        std::uint8_t* rowClasses = classes == nullptr ? nullptr : classes + static_cast<std::size_t>(y - rows.first) * width;
        for (std::size_t k = 0; k < candidates.Count(); ++k) {
            const std::int32_t x = candidates.Column(k);
            const int channels = ChannelDelta(rowA + 3 * static_cast<std::size_t>(x), rowB + 3 * static_cast<std::size_t>(x));
            if (!candidates.Beyond(k) || !BeyondTolerance(pair, deepRowsEqual, channels, x, y, scope.tolerance)) {
                continue;
            }
            const bool antialiased = scope.antialiasing && (Antialiased(wordsA, wordsB, geometry, x, y) ||
                                                            Antialiased(wordsB, wordsA, geometry, x, y));
            if (antialiased) {
                ++result.stats.antialiasedPixels;
            } else {
                CountDifferingPixel(result.stats, x, y, std::max(channels, deepRowsEqual ? 0 : pair.PixelDelta(x, y)));
            }
            if (rowClasses != nullptr) {
                rowClasses[x] = antialiased ? kPixelAntialiased : kPixelCounts;
            }
        }
    }
    return result;
}
