#include "diff/colour_delta.h"

#if GLIMRA_HAVE_SSE2

#include <emmintrin.h>

#include "diff/colour_delta_constants.h"

// Eight pixels a batch. ΔY, ΔI and ΔQ of opaque pixels are sums of
// channel differences (at most 255) times coefficients (at most 2441 in
// 1/4096 units): 16-bit products summed into 32 bits, exact. ΔE then needs
// up to 53 bits: each square times its weight stays below 2^52 and the
// sum below 2^53, so double precision holds every step exactly, and
// ΔE / 2^24 rounded down > limit  <=>  ΔE >= (limit + 1) * 2^24.

namespace {

// Two 16-bit coefficients, repeated for the four pixels of a madd.
__m128i Pair(std::int64_t first, std::int64_t second) {
    return _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(second) << 16) |
                                           (static_cast<std::uint32_t>(first) & 0xffff)));
}

struct Coefficients {
    __m128i redGreen;  // (c_red, c_green) per pixel
    __m128i blueZero;  // (c_blue, 0)
};

// c_red * dr + c_green * dg + c_blue * db for four pixels, from the
// interleaved (dr, dg) and (db, 0) pairs.
__m128i Combine(const Coefficients& c, __m128i redGreen, __m128i blueZero) {
    // _mm_madd_epi16: out[k] = a[2k] * b[2k] + a[2k + 1] * b[2k + 1], in 32 bits.
    return _mm_add_epi32(_mm_madd_epi16(redGreen, c.redGreen), _mm_madd_epi16(blueZero, c.blueZero));
}

// square * weight summed over Y, I and Q for two pixels, in doubles.
__m128d Weighed(__m128i y, __m128i i, __m128i q) {
    // _mm_cvtepi32_pd: the two low 32-bit lanes as doubles.
    const __m128d dy = _mm_cvtepi32_pd(y);
    const __m128d di = _mm_cvtepi32_pd(i);
    const __m128d dq = _mm_cvtepi32_pd(q);
    const __m128d sy = _mm_mul_pd(_mm_mul_pd(dy, dy), _mm_set1_pd(static_cast<double>(kYiqWeight[0])));
    const __m128d si = _mm_mul_pd(_mm_mul_pd(di, di), _mm_set1_pd(static_cast<double>(kYiqWeight[1])));
    const __m128d sq = _mm_mul_pd(_mm_mul_pd(dq, dq), _mm_set1_pd(static_cast<double>(kYiqWeight[2])));
    return _mm_add_pd(_mm_add_pd(sy, si), sq);
}

// The bits (one a pixel, lowest first) of four pixels whose ΔE reaches `bound`.
int FourBeyond(__m128i y, __m128i i, __m128i q, __m128d bound) {
    // _mm_cmpge_pd: all ones where a >= b; _mm_movemask_pd: their top bits.
    const int low = _mm_movemask_pd(_mm_cmpge_pd(Weighed(y, i, q), bound));
    // _mm_srli_si128(v, 8): the upper two lanes moved down.
    const int high = _mm_movemask_pd(_mm_cmpge_pd(
        Weighed(_mm_srli_si128(y, 8), _mm_srli_si128(i, 8), _mm_srli_si128(q, 8)), bound));
    return low | high << 2;
}

}  // namespace

void YiqBeyond_sse2(const ChannelDifferences& d, std::size_t count, std::int64_t limit, std::uint8_t* beyond) {
    const Coefficients y{Pair(kYiq[0][0], kYiq[0][1]), Pair(kYiq[0][2], 0)};
    const Coefficients i{Pair(kYiq[1][0], kYiq[1][1]), Pair(kYiq[1][2], 0)};
    const Coefficients q{Pair(kYiq[2][0], kYiq[2][1]), Pair(kYiq[2][2], 0)};
    const __m128d bound = _mm_set1_pd(static_cast<double>(limit + 1) * static_cast<double>(std::int64_t{1} << 24));
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t n = 0; n < count; n += kYiqBatch) {
        const __m128i dr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.red + n));
        const __m128i dg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.green + n));
        const __m128i db = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d.blue + n));
        // _mm_unpacklo_epi16(a, b): a0 b0 a1 b1 a2 b2 a3 b3 (pixels 0-3); hi: pixels 4-7.
        const __m128i redGreenLow = _mm_unpacklo_epi16(dr, dg);
        const __m128i redGreenHigh = _mm_unpackhi_epi16(dr, dg);
        const __m128i blueLow = _mm_unpacklo_epi16(db, zero);
        const __m128i blueHigh = _mm_unpackhi_epi16(db, zero);
        const int bits = FourBeyond(Combine(y, redGreenLow, blueLow), Combine(i, redGreenLow, blueLow),
                                    Combine(q, redGreenLow, blueLow), bound) |
                         FourBeyond(Combine(y, redGreenHigh, blueHigh), Combine(i, redGreenHigh, blueHigh),
                                    Combine(q, redGreenHigh, blueHigh), bound)
                             << 4;
        for (std::size_t k = 0; k < kYiqBatch; ++k) {
            beyond[n + k] = static_cast<std::uint8_t>((bits >> k) & 1);
        }
    }
}

#endif
