// The pixel conversions with SSSE3's byte shuffle, one instruction where
// SSE2 takes a dozen, and the choice between them and their SSE2 forms,
// made once by what the processor has.
#include "stream/png_rows.h"

#if GLIMRA_HAVE_SSE2
#include <immintrin.h>

#include <cstring>

#define GLIMRA_SSSE3 __attribute__((target("ssse3")))

GLIMRA_SSSE3 void SwapRedAndBlue_ssse3(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width) {
    // out[3k] = in[3k + 2], out[3k + 1] = in[3k + 1], out[3k + 2] = in[3k]
    // for five pixels; byte 15 (the next pixel's red) is junk that the next
    // run or the tail overwrites.
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x), _mm_shuffle_epi8(v, swap));
    }
    SwapRedAndBlue_scalar(rgb + 3 * x, bgr + 3 * x, width - x);
}

GLIMRA_SSSE3 void SplitRgba_ssse3(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha,
                                  std::size_t width) {
    // out[3k .. 3k + 2] = in[4k + 2], in[4k + 1], in[4k] for four pixels;
    // bytes 12 .. 15 are zero, and the next run or the tail overwrites them.
    const __m128i toBgr = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    // alpha[k] = in[4k + 3]
    const __m128i toAlpha = _mm_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    std::size_t x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 4 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x), _mm_shuffle_epi8(v, toBgr));
        const std::int32_t four = _mm_cvtsi128_si32(_mm_shuffle_epi8(v, toAlpha));
        std::memcpy(alpha + x, &four, sizeof four);
    }
    SplitRgba_scalar(rgba + 4 * x, bgr + 3 * x, alpha + x, width - x);
}

void SwapRedAndBlue(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width) {
    ProcessorHasSsse3() ? SwapRedAndBlue_ssse3(rgb, bgr, width) : SwapRedAndBlue_sse2(rgb, bgr, width);
}

void SplitRgba(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width) {
    ProcessorHasSsse3() ? SplitRgba_ssse3(rgba, bgr, alpha, width) : SplitRgba_sse2(rgba, bgr, alpha, width);
}

#else

void SwapRedAndBlue(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width) {
    SwapRedAndBlue_scalar(rgb, bgr, width);
}

void SplitRgba(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width) {
    SplitRgba_scalar(rgba, bgr, alpha, width);
}

#endif
