#include "diff/deep_diff.h"

#include <algorithm>
#include <cmath>
#include <cstring>

DeepPair::DeepPair(const Image* imageA, const Image* imageB)
    : a(imageA),
      b(imageB),
      samples(imageA->samples == imageB->samples && imageA->deep != nullptr && imageB->deep != nullptr
                  ? imageA->samples
                  : Samples::Bits8),
      active(samples != Samples::Bits8 || imageA->storesAlpha || imageB->storesAlpha),
      deepRowBytes(samples == Samples::Bits8 ? 0 : DeepPlaneSize(a->width, 1, samples)) {
    if (active && samples == Samples::Bits8) {
        opaqueRow.assign(static_cast<std::size_t>(a->width), 255);
    }
}

const std::uint8_t* DeepPair::AlphaRow(const Image* image, std::int32_t y) const {
    return image->alpha == nullptr
               ? opaqueRow.data()
               : image->alpha + static_cast<std::size_t>(y) * static_cast<std::size_t>(image->width);
}

const std::uint8_t* DeepPair::DeepRow(const Image* image, std::int32_t y) const {
    return static_cast<const std::uint8_t*>(image->deep) + static_cast<std::size_t>(y) * deepRowBytes;
}

bool DeepPair::RowsEqual(std::int32_t y) const {
    if (!active) {
        return true;
    }
    if (samples == Samples::Bits8) {
        return std::memcmp(AlphaRow(a, y), AlphaRow(b, y), static_cast<std::size_t>(a->width)) == 0;
    }
    return std::memcmp(DeepRow(a, y), DeepRow(b, y), deepRowBytes) == 0;
}

namespace {

int FloatDelta(float a, float b) {
    std::uint32_t bitsA = 0;
    std::uint32_t bitsB = 0;
    std::memcpy(&bitsA, &a, sizeof a);
    std::memcpy(&bitsB, &b, sizeof b);
    if (bitsA == bitsB) {
        return 0;
    }
    const float difference = std::fabs(a - b);
    // NaN fails the comparison too.
    if (!(difference < 1.0f)) {
        return 255;
    }
    // Rounded by hand: lround would bring libm into every run's start-up.
    return std::max(1, static_cast<int>(difference * 255.0f + 0.5f));
}

}  // namespace

int DeepPair::PixelDelta(std::int32_t x, std::int32_t y) const {
    const auto column = static_cast<std::size_t>(x);
    int delta = 0;
    switch (samples) {
    case Samples::Bits8: {
        const int alphaA = AlphaRow(a, y)[column];
        const int alphaB = AlphaRow(b, y)[column];
        return alphaA > alphaB ? alphaA - alphaB : alphaB - alphaA;
    }
    case Samples::Bits16: {
        const auto* pa = reinterpret_cast<const std::uint16_t*>(DeepRow(a, y)) + 4 * column;
        const auto* pb = reinterpret_cast<const std::uint16_t*>(DeepRow(b, y)) + 4 * column;
        for (int c = 0; c < 4; ++c) {
            delta = std::max(delta, pa[c] > pb[c] ? pa[c] - pb[c] : pb[c] - pa[c]);
        }
        return delta == 0 ? 0 : std::max(1, delta >> 8);
    }
    default: {
        const auto* pa = reinterpret_cast<const float*>(DeepRow(a, y)) + 4 * column;
        const auto* pb = reinterpret_cast<const float*>(DeepRow(b, y)) + 4 * column;
        for (int c = 0; c < 4; ++c) {
            delta = std::max(delta, FloatDelta(pa[c], pb[c]));
        }
        return delta;
    }
    }
}

bool DeepPair::PixelBeyond(std::int32_t x, std::int32_t y, int tolerance) const {
    const auto column = static_cast<std::size_t>(x);
    switch (samples) {
    case Samples::Bits8: return PixelDelta(x, y) > tolerance;
    case Samples::Bits16: {
        const auto* pa = reinterpret_cast<const std::uint16_t*>(DeepRow(a, y)) + 4 * column;
        const auto* pb = reinterpret_cast<const std::uint16_t*>(DeepRow(b, y)) + 4 * column;
        for (int c = 0; c < 4; ++c) {
            if ((pa[c] > pb[c] ? pa[c] - pb[c] : pb[c] - pa[c]) > tolerance * 257) {
                return true;
            }
        }
        return false;
    }
    default: {
        const auto* pa = reinterpret_cast<const float*>(DeepRow(a, y)) + 4 * column;
        const auto* pb = reinterpret_cast<const float*>(DeepRow(b, y)) + 4 * column;
        const float limit = static_cast<float>(tolerance) / 255.0f;
        for (int c = 0; c < 4; ++c) {
            // Equal bits are equal even for NaN; otherwise NaN fails the test.
            if (std::memcmp(pa + c, pb + c, sizeof(float)) != 0 && !(std::fabs(pa[c] - pb[c]) <= limit)) {
                return true;
            }
        }
        return false;
    }
    }
}

bool DeepDiffer(const DeepPair& pair, std::int32_t height) {
    for (std::int32_t y = 0; pair.Active() && y < height; ++y) {
        if (!pair.RowsEqual(y)) {
            return true;
        }
    }
    return false;
}
