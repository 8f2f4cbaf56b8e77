#include "stream/png_rows.h"

#if GLIMRA_HAVE_SSE2

#include <emmintrin.h>

#include <cstring>
#include <type_traits>

// Sub, Average and Paeth depend on the pixel to the left, so a row is a
// chain of pixels: each step takes one whole pixel (3 or 4 bytes) in the
// low lanes of a vector, which is what makes them faster than the byte
// loop. Nothing outside the rows is ever loaded or stored.

namespace {

// v[0 .. Bpp-1] = p[0 .. Bpp-1], the other lanes zero. The three bytes are
// gathered in a register: assembled in memory, the 4-byte load would wait
// for the smaller stores to drain (a failed store forwarding) every pixel.
template <std::size_t Bpp>
__m128i LoadPixel(const std::uint8_t* p) {
    std::uint32_t bytes = 0;
    if constexpr (Bpp == 4) {
        std::memcpy(&bytes, p, 4);
    } else {
        std::uint16_t low = 0;
        std::memcpy(&low, p, 2);
        bytes = low | static_cast<std::uint32_t>(p[2]) << 16;
    }
    return _mm_cvtsi32_si128(static_cast<int>(bytes));
}

// p[0 .. Bpp-1] = v[0 .. Bpp-1]
template <std::size_t Bpp>
void StorePixel(std::uint8_t* p, __m128i v) {
    const auto bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
    if constexpr (Bpp == 4) {
        std::memcpy(p, &bytes, 4);
    } else {
        const auto low = static_cast<std::uint16_t>(bytes);
        std::memcpy(p, &low, 2);
        p[2] = static_cast<std::uint8_t>(bytes >> 16);
    }
}

// Bytes 0 .. 2 of v repeated over the first four 3-byte pixels.
__m128i RepeatPixel3(__m128i v) {
    // p = v[0..2]; p | p << 3 bytes | p << 6 bytes | p << 9 bytes
    const __m128i pixel = _mm_and_si128(v, _mm_cvtsi32_si128(0x00FFFFFF));
    const __m128i two = _mm_or_si128(pixel, _mm_slli_si128(pixel, 3));
    return _mm_or_si128(two, _mm_slli_si128(two, 6));
}

template <std::size_t Bpp>
void Sub(std::uint8_t* row, std::size_t size) {
    // Four pixels at a time: each becomes the sum of itself and all before
    // it in the row, which is a running sum inside the four plus the sum
    // of everything before them (repeated in `carry`). The carry grows by
    // the four's own sum, which does not wait for the carry: the chain
    // from one step to the next is a single add.
    __m128i carry = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= size; i += 4 * Bpp) {
        // v = row[i .. i+15]; only the first 4 * Bpp bytes are used
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        // pixel k += pixel k-1, then += pixels k-2 and k-3: running sums
        v = _mm_add_epi8(v, _mm_slli_si128(v, Bpp));
        v = _mm_add_epi8(v, _mm_slli_si128(v, 2 * Bpp));
        // the four's sum, the last running sum, in every pixel's place
        __m128i sum;
        if constexpr (Bpp == 4) {
            sum = _mm_shuffle_epi32(v, 0xFF);
        } else {
            sum = RepeatPixel3(_mm_srli_si128(v, 9));
        }
        // pixels += everything before them; carry += the four
        v = _mm_add_epi8(v, carry);
        carry = _mm_add_epi8(carry, sum);
        if constexpr (Bpp == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), v);
        } else {
            // row[i .. i+11] = v[0 .. 11]
            _mm_storel_epi64(reinterpret_cast<__m128i*>(row + i), v);
            StorePixel<4>(row + i + 8, _mm_srli_si128(v, 8));
        }
    }
    __m128i left = carry;
    for (; i + Bpp <= size; i += Bpp) {
        // x[j] = row[i + j] + left[j], bytewise modulo 256
        const __m128i x = _mm_add_epi8(LoadPixel<Bpp>(row + i), left);
        StorePixel<Bpp>(row + i, x);
        left = x;
    }
}

template <std::size_t Bpp>
void Average(std::uint8_t* row, const std::uint8_t* previous, std::size_t size) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i left = _mm_setzero_si128();
    for (std::size_t i = 0; i + Bpp <= size; i += Bpp) {
        const __m128i up = LoadPixel<Bpp>(previous + i);
        // (left + up) >> 1 without overflow: avg_epu8 rounds up, so take
        // back the low bit that rounding added when left + up is odd.
        const __m128i mean =
            _mm_sub_epi8(_mm_avg_epu8(left, up), _mm_and_si128(_mm_xor_si128(left, up), one));
        // x[j] = row[i + j] + mean[j]
        const __m128i x = _mm_add_epi8(LoadPixel<Bpp>(row + i), mean);
        StorePixel<Bpp>(row + i, x);
        left = x;
    }
}

// |v| for each 16-bit lane
__m128i Abs16(__m128i v) { return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v)); }

// mask ? yes : no, lane by lane (mask lanes all ones or all zeros)
__m128i Select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The Paeth predictor of each 16-bit lane: with p = left + up - upLeft,
// the neighbour nearest to p, preferring left, then up, on ties.
__m128i PaethPredictor(__m128i left, __m128i up, __m128i upLeft) {
    // pa = |p - left|, pb = |p - up|, pc = |p - upLeft|
    const __m128i upMinusUpLeft = _mm_sub_epi16(up, upLeft);
    const __m128i leftMinusUpLeft = _mm_sub_epi16(left, upLeft);
    const __m128i pa = Abs16(upMinusUpLeft);
    const __m128i pb = Abs16(leftMinusUpLeft);
    const __m128i pc = Abs16(_mm_add_epi16(upMinusUpLeft, leftMinusUpLeft));
    const __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
    // left where pa is smallest, else up where pb is, else upLeft
    const __m128i predictor = Select(_mm_cmpeq_epi16(pb, smallest), up, upLeft);
    return Select(_mm_cmpeq_epi16(pa, smallest), left, predictor);
}

// One pixel of a Paeth row: row[i..] += predictor, bytewise modulo 256;
// the result widened to 16-bit lanes.
template <std::size_t Bpp>
__m128i PaethPixel(std::uint8_t* pixel, __m128i left, __m128i up, __m128i upLeft) {
    const __m128i predictor = PaethPredictor(left, up, upLeft);
    const __m128i x = _mm_add_epi8(LoadPixel<Bpp>(pixel), _mm_packus_epi16(predictor, predictor));
    StorePixel<Bpp>(pixel, x);
    return _mm_unpacklo_epi8(x, _mm_setzero_si128());
}

template <std::size_t Bpp>
void Paeth(std::uint8_t* row, const std::uint8_t* previous, std::size_t size) {
    const __m128i zero = _mm_setzero_si128();
    // The three neighbours as 16-bit lanes, where their sums cannot wrap.
    __m128i left = zero;
    __m128i upLeft = zero;
    for (std::size_t i = 0; i + Bpp <= size; i += Bpp) {
        // up[j] = previous[i + j], widened to 16 bits
        const __m128i up = _mm_unpacklo_epi8(LoadPixel<Bpp>(previous + i), zero);
        left = PaethPixel<Bpp>(row + i, left, up, upLeft);
        upLeft = up;
    }
}

// One step of two rows that share a vector (see PaethRowsTogether): the
// upper row's pixel and the lower row's one behind it, from their filtered
// bytes `filtered` (widened, side by side) and the upper row's upper
// neighbour `above` (widened). Returns both pixels as bytes, the upper
// row's in bytes 0-3, the lower row's in bytes 4-7.
inline __m128i PaethPairStep(__m128i filtered, __m128i above, __m128i& left, __m128i& upLeft) {
    // up = above | the upper row's pixel just made
    const __m128i up = _mm_unpacklo_epi64(above, left);
    // x = (filtered + predictor) mod 256, lane by lane
    const __m128i x = _mm_and_si128(_mm_add_epi16(filtered, PaethPredictor(left, up, upLeft)),
                                    _mm_set1_epi16(0x00FF));
    left = x;
    upLeft = up;
    // bytes[j] = x[j], every lane being 0..255
    return _mm_packus_epi16(x, x);
}

// [a | b] in 16-bit lanes, from the bytes of two pixels
__m128i WidenTwo(__m128i a, __m128i b) {
    return _mm_unpacklo_epi8(_mm_unpacklo_epi32(a, b), _mm_setzero_si128());
}

// A pixel, or with `word` the four bytes from its start: for 3-byte pixels
// the fourth belongs to the next pixel, and its lane is never used.
template <std::size_t Bpp>
__m128i LoadPixelOrWord(const std::uint8_t* p, bool word) {
    return word ? LoadPixel<4>(p) : LoadPixel<Bpp>(p);
}

template <std::size_t Bpp>
void StorePixelOrWord(std::uint8_t* p, __m128i v, bool word) {
    word ? StorePixel<4>(p, v) : StorePixel<Bpp>(p, v);
}

// Paeth rows two by two: each pixel waits for the one to its left, so a
// row is a chain of slow steps. Two rows share one vector, the upper row's
// pixel in lanes 0-3 and the lower row's, one pixel behind, in lanes 4-7,
// so that one step of the predictor makes a pixel of each; the lower
// row's `up` is the upper row's `left`. With four rows a second such pair
// follows two pixels behind the first, its upper row taking its `up` from
// the first pair's lower row: the two chains are independent and run side
// by side. Row r makes its pixel k - r in step k.
template <std::size_t Bpp, std::size_t Rows>
void PaethRowsTogether(std::uint8_t* first, std::size_t stride, const std::uint8_t* previous,
                       std::size_t size) {
    constexpr std::size_t kPairs = Rows / 2;
    const __m128i zero = _mm_setzero_si128();
    const auto last = static_cast<std::ptrdiff_t>(size / Bpp) - 1;
    // Pixel j of a row, zero outside it; a word where the row goes on. In
    // the steps where every row is well inside (`inner`) nothing is checked.
    const auto load = [&](const std::uint8_t* row, std::ptrdiff_t j, auto inner) {
        if constexpr (decltype(inner)::value) {
            return LoadPixel<4>(row + static_cast<std::size_t>(j) * Bpp);
        } else {
            return j < 0 || j > last
                       ? zero
                       : LoadPixelOrWord<Bpp>(row + static_cast<std::size_t>(j) * Bpp, j < last);
        }
    };
    const auto store = [&](std::uint8_t* row, std::ptrdiff_t j, __m128i bytes, auto inner) {
        if constexpr (decltype(inner)::value) {
            StorePixel<4>(row + static_cast<std::size_t>(j) * Bpp, bytes);
        } else if (j >= 0 && j <= last) {
            StorePixelOrWord<Bpp>(row + static_cast<std::size_t>(j) * Bpp, bytes, j < last);
        }
    };
    std::uint8_t* rows[Rows];
    for (std::size_t r = 0; r < Rows; ++r) {
        rows[r] = first + r * stride;
    }
    // Per pair, [upper row | lower row] in 16-bit lanes.
    __m128i left[kPairs];
    __m128i upLeft[kPairs];
    for (std::size_t c = 0; c < kPairs; ++c) {
        left[c] = zero;
        upLeft[c] = zero;
    }
    // The filtered bytes of the step to come.
    __m128i filtered[Rows];
    for (std::size_t r = 0; r < Rows; ++r) {
        filtered[r] = load(rows[r], -static_cast<std::ptrdiff_t>(r), std::false_type{});
    }
    __m128i above = load(previous, 0, std::false_type{});
    const auto step = [&](std::ptrdiff_t k, auto inner) {
        __m128i both[kPairs];
        __m128i ups[kPairs];
        for (std::size_t c = 0; c < kPairs; ++c) {
            both[c] = WidenTwo(filtered[2 * c], filtered[2 * c + 1]);
            // the pair above's lower row, made in the step before
            ups[c] = c == 0 ? _mm_unpacklo_epi8(above, zero) : _mm_srli_si128(left[c - 1], 8);
        }
        // The next step's bytes are read before this step's stores, which
        // write a whole word where the pixel after is in the same row.
        for (std::size_t r = 0; r < Rows; ++r) {
            filtered[r] = load(rows[r], k + 1 - static_cast<std::ptrdiff_t>(r), inner);
        }
        above = load(previous, k + 1, inner);
        for (std::size_t c = 0; c < kPairs; ++c) {
            const __m128i bytes = PaethPairStep(both[c], ups[c], left[c], upLeft[c]);
            const auto upper = static_cast<std::ptrdiff_t>(2 * c);
            store(rows[2 * c], k - upper, bytes, inner);
            // the lower row's pixel: bytes 4-7
            store(rows[2 * c + 1], k - upper - 1, _mm_srli_si128(bytes, 4), inner);
        }
    };
    // In step k row r reads its pixel k + 1 - r and writes its pixel k - r:
    // all of them inside and followed by another from Rows - 1 to last - 2.
    constexpr auto kLastRow = static_cast<std::ptrdiff_t>(Rows) - 1;
    std::ptrdiff_t k = 0;
    for (; k < kLastRow; ++k) {
        step(k, std::false_type{});
    }
    for (; k <= last - 2; ++k) {
        step(k, std::true_type{});
    }
    for (; k <= last + kLastRow; ++k) {
        step(k, std::false_type{});
    }
}

template <std::size_t Bpp>
void PaethRows(std::uint8_t* first, std::size_t stride, const std::uint8_t* previous,
               std::size_t size, std::size_t count) {
    std::size_t r = 0;
    for (; r + 4 <= count; r += 4) {
        PaethRowsTogether<Bpp, 4>(first + r * stride, stride, previous, size);
        previous = first + (r + 3) * stride;
    }
    if (r + 2 <= count) {
        PaethRowsTogether<Bpp, 2>(first + r * stride, stride, previous, size);
        previous = first + (r + 1) * stride;
        r += 2;
    }
    if (r < count) {
        Paeth<Bpp>(first + r * stride, previous, size);
    }
}

}  // namespace

void UnfilterSub_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                      std::size_t bpp) {
    switch (bpp) {
    case 3: return Sub<3>(row, size);
    case 4: return Sub<4>(row, size);
    default: return UnfilterSub_scalar(row, previous, size, bpp);
    }
}

void SwapRedAndBlue_sse2(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width) {
    // Bytes 0, 3, 6, 9 (red), 1, 4, 7, 10 (green), 2, 5, 8, 11 (blue) of a
    // run of four pixels.
    const __m128i red = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0);
    const __m128i green = _mm_slli_si128(red, 1);
    const __m128i blue = _mm_slli_si128(red, 2);
    std::size_t x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 3 * x));
        // out[3k] = blue[k], out[3k + 1] = green[k], out[3k + 2] = red[k];
        // bytes 12 .. 15 are junk that the next run or the tail overwrites.
        const __m128i swapped = _mm_or_si128(
            _mm_and_si128(v, green),
            _mm_or_si128(_mm_srli_si128(_mm_and_si128(v, blue), 2),
                         _mm_slli_si128(_mm_and_si128(v, red), 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x), swapped);
    }
    SwapRedAndBlue_scalar(rgb + 3 * x, bgr + 3 * x, width - x);
}

void SplitRgba_sse2(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width) {
    const __m128i greens = _mm_set1_epi32(0x0000FF00);
    const __m128i lowBytes = _mm_set1_epi32(0x000000FF);
    const __m128i thirdBytes = _mm_set1_epi32(0x00FF0000);
    const __m128i lowPixel = _mm_set1_epi64x(0x0000000000FFFFFF);
    const __m128i highPixel = _mm_set1_epi64x(0x0000FFFFFF000000);
    const __m128i lowLane = _mm_set_epi64x(0, -1);
    std::size_t x = 0;
    for (; 3 * x + 16 <= 3 * width; x += 4) {
        // Four pixels, each dword red | green << 8 | blue << 16 | alpha << 24.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgba + 4 * x));
        // alpha[k] = v.dword[k] >> 24, narrowed to bytes
        const __m128i a = _mm_srli_epi32(v, 24);
        const __m128i a8 = _mm_packus_epi16(_mm_packs_epi32(a, a), _mm_setzero_si128());
        const std::int32_t four = _mm_cvtsi128_si32(a8);
        std::memcpy(alpha + x, &four, sizeof four);
        // dword[k] = blue | green << 8 | red << 16: red and blue swapped,
        // alpha gone
        const __m128i d = _mm_or_si128(
            _mm_and_si128(v, greens),
            _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 16), lowBytes),
                         _mm_and_si128(_mm_slli_epi32(v, 16), thirdBytes)));
        // In each 64-bit lane, pixel 1 moves down next to pixel 0: six bytes.
        const __m128i pairs = _mm_or_si128(_mm_and_si128(d, lowPixel),
                                           _mm_and_si128(_mm_srli_epi64(d, 8), highPixel));
        // The high lane's six bytes move down next to the low lane's:
        // out bytes 0..11; bytes 12..15 are zero, and the next run or the
        // tail overwrites them.
        const __m128i packed = _mm_or_si128(_mm_and_si128(pairs, lowLane),
                                            _mm_srli_si128(_mm_andnot_si128(lowLane, pairs), 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 3 * x), packed);
    }
    SplitRgba_scalar(rgba + 4 * x, bgr + 3 * x, alpha + x, width - x);
}

void UnfilterUp_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                     std::size_t bpp) {
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        // row[i + j] += previous[i + j] for j in 0..15, unaligned
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(x, up));
    }
    UnfilterUp_scalar(row + i, previous + i, size - i, bpp);
}

void UnfilterAverage_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                          std::size_t bpp) {
    switch (bpp) {
    case 3: return Average<3>(row, previous, size);
    case 4: return Average<4>(row, previous, size);
    default: return UnfilterAverage_scalar(row, previous, size, bpp);
    }
}

void UnfilterPaethRows_sse2(std::uint8_t* first, std::size_t stride, const std::uint8_t* previous,
                            std::size_t size, std::size_t bpp, std::size_t count) {
    switch (bpp) {
    case 3: return PaethRows<3>(first, stride, previous, size, count);
    case 4: return PaethRows<4>(first, stride, previous, size, count);
    default: return UnfilterPaethRows_scalar(first, stride, previous, size, bpp, count);
    }
}

void UnfilterPaeth_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                        std::size_t bpp) {
    switch (bpp) {
    case 3: return Paeth<3>(row, previous, size);
    case 4: return Paeth<4>(row, previous, size);
    default: return UnfilterPaeth_scalar(row, previous, size, bpp);
    }
}

#endif
