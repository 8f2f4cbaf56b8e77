// The perceived colour difference of two pixels: the YIQ measure of
// Kotsarenko and Ramos (2010), over colours blended over white by their
// alpha, ΔE = 0.5053·ΔY² + 0.299·ΔI² + 0.1957·ΔQ², with 35215 the
// largest there is. It is computed in the fixed point that screenshot
// tools' counts come from (odiff 4.5): coefficients and weights scaled by
// 4096 and truncated, Y, I and Q in 1/4096 units, ΔE in 1/4096 units
// rounded down. Counts agree with theirs only if every step does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/simd.h"

// A pixel's 8-bit samples packed as red | green << 8 | blue << 16 |
// alpha << 24: two pixels are the same colour when their words are equal.
using Rgba = std::uint32_t;

inline Rgba PackRgba(const std::uint8_t* bgr, std::uint8_t alpha) {
    return Rgba{bgr[2]} | Rgba{bgr[1]} << 8 | Rgba{bgr[0]} << 16 | Rgba{alpha} << 24;
}

// The largest ΔE (in 1/4096 units) a pair may have and still not count
// under threshold `t` (0 to 1).
std::int64_t YiqLimit(double threshold);

// ΔE of two pixels in 1/4096 units, rounded down; any alpha.
std::int64_t YiqDelta(Rgba a, Rgba b);

// Brightness (Y) of a pixel blended over white, in double precision: the
// anti-aliasing detector compares neighbours by it, and its choices of
// darkest and brightest neighbour, ties included, depend on the last bit,
// so the products and their order are those of red * c_red + green *
// c_green + blue * c_blue. (No fused multiply-add: the build targets plain
// x86-64.) Opaque pixels take their products from a table.
using BrightnessProducts = std::array<std::array<double, 256>, 3>;
extern const BrightnessProducts kBrightnessProducts;
double BlendedBrightness(Rgba pixel);
inline double Brightness(Rgba pixel) {
    if (pixel >> 24 != 255) {
        return BlendedBrightness(pixel);
    }
    return kBrightnessProducts[0][pixel & 0xff] + kBrightnessProducts[1][(pixel >> 8) & 0xff] +
           kBrightnessProducts[2][(pixel >> 16) & 0xff];
}

// Channel differences (A - B) of opaque pixels, one plane a channel, each
// padded with zeros to a multiple of kYiqBatch entries: the kernels run
// whole batches with no remainder loop.
constexpr std::size_t kYiqBatch = 8;
struct ChannelDifferences {
    const std::int16_t* red;
    const std::int16_t* green;
    const std::int16_t* blue;
};

// beyond[i] = 1 when the ΔE of opaque pixels that differ by (red[i],
// green[i], blue[i]) exceeds `limit`, else 0, for i < count (written up to
// the batch's end). Opaque pixels blend to themselves, so ΔY is linear in
// the channel differences and the pixels themselves are not needed.
void YiqBeyond_scalar(const ChannelDifferences& d, std::size_t count, std::int64_t limit, std::uint8_t* beyond);
#if GLIMRA_HAVE_SSE2
void YiqBeyond_sse2(const ChannelDifferences& d, std::size_t count, std::int64_t limit, std::uint8_t* beyond);
constexpr auto YiqBeyond = YiqBeyond_sse2;
#else
constexpr auto YiqBeyond = YiqBeyond_scalar;
#endif
