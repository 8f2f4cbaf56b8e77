#include "diff/scope.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "diff/deep_diff.h"
#include "diff/diff_kernels.h"

std::uint64_t Scope::Allowed(std::uint64_t compared) const {
    if (!maxAsShare) {
        return maxDiffering;
    }
    return static_cast<std::uint64_t>(static_cast<long double>(compared) * maxPercent / 100.0L);
}

namespace {

// Digits, at most a trillion: no picture is larger.
bool TakeNumber(const char*& at, std::int64_t& value) {
    if (std::isdigit(static_cast<unsigned char>(*at)) == 0) {
        return false;
    }
    value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*at)) != 0; ++at) {
        if (value > 1000000000000) {
            return false;
        }
        value = value * 10 + (*at - '0');
    }
    return true;
}

bool TakeOffset(const char*& at, std::int64_t& value) {
    const char sign = *at;
    if (sign != '+' && sign != '-') {
        return false;
    }
    ++at;
    if (!TakeNumber(at, value)) {
        return false;
    }
    value = sign == '-' ? -value : value;
    return true;
}

}  // namespace

std::int64_t MarkIgnoredColumns(const Scope& scope, std::int64_t y, std::int64_t width, std::vector<std::uint8_t>& ignored) {
    bool touched = false;
    for (const Region& region : scope.ignored) {
        if (y < region.y || y >= region.y + region.height) {
            continue;
        }
        const std::int64_t left = std::max<std::int64_t>(0, region.x);
        const std::int64_t right = std::min(width, region.x + region.width);
        if (left >= right) {
            continue;
        }
        if (!touched) {
            std::fill(ignored.begin(), ignored.end(), 0);
            touched = true;
        }
        std::fill(ignored.begin() + left, ignored.begin() + right, 1);
    }
    return touched ? std::count(ignored.begin(), ignored.end(), 1) : 0;
}

int ChannelDelta(const std::uint8_t* pa, const std::uint8_t* pb) {
    int delta = 0;
    for (int c = 0; c < 3; ++c) {
        delta = std::max(delta, pa[c] > pb[c] ? pa[c] - pb[c] : pb[c] - pa[c]);
    }
    return delta;
}

bool ParseRegion(const std::string& text, Region& region) {
    const char* at = text.c_str();
    Region parsed;
    if (!TakeNumber(at, parsed.width) || *at != 'x') {
        return false;
    }
    ++at;
    if (!TakeNumber(at, parsed.height)) {
        return false;
    }
    // The offsets may be left out together: the region starts at 0,0.
    if (*at != '\0' && (!TakeOffset(at, parsed.x) || !TakeOffset(at, parsed.y))) {
        return false;
    }
    if (*at != '\0' || parsed.width == 0 || parsed.height == 0) {
        return false;
    }
    region = parsed;
    return true;
}

ScopedDifference MeasureInScope(const Image* a, const Image* b, const Scope& scope) {
    ScopedDifference result;
    const DeepPair pair(a, b);
    // 16-bit and float pictures: their samples decide, not the 8-bit form
    // made from them.
    const bool deepDecides = pair.ComparedSamples() != Samples::Bits8;
    const auto width = static_cast<std::size_t>(a->width);
    const std::size_t rowBytes = width * 3;
    const auto tolerance = static_cast<std::uint8_t>(scope.tolerance);
    std::vector<std::uint8_t> ignored(width);
    for (std::int32_t y = 0; y < a->height; ++y) {
        const std::int64_t ignoredHere = MarkIgnoredColumns(scope, y, a->width, ignored);
        result.compared += width - static_cast<std::size_t>(ignoredHere);
        const std::uint8_t* rowA = a->pixels + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* rowB = b->pixels + static_cast<std::size_t>(y) * rowBytes;
        const bool deepRowsEqual = pair.RowsEqual(y);
        if (deepRowsEqual && std::memcmp(rowA, rowB, rowBytes) == 0) {
            continue;
        }
        result.differs = true;
        if (deepRowsEqual && (deepDecides || BytesWithin(rowA, rowB, rowBytes, tolerance))) {
            continue;
        }
        for (std::int32_t x = 0; x < a->width; ++x) {
            if (ignoredHere > 0 && ignored[static_cast<std::size_t>(x)] != 0) {
                continue;
            }
            const std::uint8_t* pa = rowA + 3 * static_cast<std::size_t>(x);
            const std::uint8_t* pb = rowB + 3 * static_cast<std::size_t>(x);
            const bool deepBeyond = !deepRowsEqual && pair.PixelBeyond(x, y, scope.tolerance);
            const int channels = ChannelDelta(pa, pb);
            if (deepBeyond || (!deepDecides && channels > scope.tolerance)) {
                CountDifferingPixel(result.stats, x, y,
                                    std::max(channels, deepRowsEqual ? 0 : pair.PixelDelta(x, y)));
            }
        }
    }
    return result;
}

void MarkIgnored(Image* difference, DiffMode mode, const Scope& scope, std::int64_t firstRow) {
    const std::int64_t width = difference->width;
    const std::int64_t height = difference->height;
    for (const Region& region : scope.ignored) {
        const std::int64_t left = std::max<std::int64_t>(0, region.x);
        const std::int64_t right = std::min(width, region.x + region.width);
        const std::int64_t top = std::max<std::int64_t>(0, region.y - firstRow);
        const std::int64_t bottom = std::min(height, region.y - firstRow + region.height);
        for (std::int64_t y = top; y < bottom; ++y) {
            for (std::int64_t x = left; x < right; ++x) {
                std::uint8_t* pixel = difference->pixels + 3 * static_cast<std::size_t>(y * width + x);
                // Diagonal stripes four pixels wide, darker than any faded grey.
                const auto grey = static_cast<std::uint8_t>(((x + y + firstRow) / 4) % 2 == 0 ? 128 : 96);
                const std::uint8_t value = mode == DiffMode::Highlight ? grey : 0;
                pixel[0] = pixel[1] = pixel[2] = value;
            }
        }
    }
}
