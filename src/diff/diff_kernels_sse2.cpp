#include "diff/diff_kernels.h"

#include <algorithm>

#if GLIMRA_HAVE_SSE2

#include <emmintrin.h>

// Both kernels make the decision the same way: the two 8-byte sums of
// absolute differences of each block, ORed into accumulators. A sum is zero
// exactly when its eight bytes are equal, and no sum exceeds 8 * 255, so the
// accumulators stay exact for any number of blocks.

namespace {

// From 16 MiB of output on, the three buffers (48 MiB and more) outgrow the
// shared cache of common processors, and an ordinary store would first read
// every output line from memory only to overwrite it. Streaming stores
// write past the cache instead: a third less memory traffic. Smaller
// outputs stay in the cache, where ordinary stores are faster.
constexpr std::size_t kStreamingBlockCount = std::size_t{1} << 20;

// How a block of output reaches memory: through the cache, past it, or
// not at all when only the decision is wanted.
enum class Store { Cached, Streaming, None };

// out[offset .. offset + 15] = value, 16-byte aligned; the streaming form
// bypasses the cache. With Store::None `out` may be null.
template <Store How>
inline void StoreBlock(std::uint8_t* out, std::size_t offset, __m128i value) {
    if (How == Store::Streaming) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(out + offset), value);
    } else if (How == Store::Cached) {
        _mm_store_si128(reinterpret_cast<__m128i*>(out + offset), value);
    }
}

// The output byte of each kernel, 16 at a time.
struct AbsDeltaOutput {
    // max(va[i], vb[i]) - min(va[i], vb[i]): never wraps.
    static __m128i Of(__m128i va, __m128i vb) {
        return _mm_sub_epi8(_mm_max_epu8(va, vb), _mm_min_epu8(va, vb));
    }
};

struct XorOutput {
    // va[i] ^ vb[i]
    static __m128i Of(__m128i va, __m128i vb) { return _mm_xor_si128(va, vb); }
};

template <typename Output, Store How>
bool DiffBlocks(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                std::size_t blockCount) {
    __m128i differences = _mm_setzero_si128();
    for (std::size_t k = 0; k < blockCount; ++k) {
        const std::size_t offset = k * 16;
        // va[i] = a[offset + i], vb[i] = b[offset + i]; 16-byte aligned.
        const __m128i va = _mm_load_si128(reinterpret_cast<const __m128i*>(a + offset));
        const __m128i vb = _mm_load_si128(reinterpret_cast<const __m128i*>(b + offset));
        // out[offset + i] = Output::Of(va, vb)[i]
        StoreBlock<How>(out, offset, Output::Of(va, vb));
        // differences.low64 |= sum |va[i] - vb[i]| for i in 0..7,
        // differences.high64 |= the same sum for i in 8..15.
        differences = _mm_or_si128(differences, _mm_sad_epu8(va, vb));
    }
    // true when any 16-bit lane of the accumulators is nonzero.
    return _mm_movemask_epi8(_mm_cmpeq_epi16(differences, _mm_setzero_si128())) != 0xFFFF;
}

template <typename Output>
bool DiffAllBlocks(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                   std::size_t blockCount) {
    if (blockCount < kStreamingBlockCount) {
        return DiffBlocks<Output, Store::Cached>(a, b, out, blockCount);
    }
    const bool differ = DiffBlocks<Output, Store::Streaming>(a, b, out, blockCount);
    // Streamed stores are weakly ordered: make them visible before anyone
    // reads the output.
    _mm_sfence();
    return differ;
}

}  // namespace

bool DiffAbsDelta_sse2(const std::uint8_t* a, const std::uint8_t* b,
                       std::uint8_t* out, std::size_t blockCount) {
    return DiffAllBlocks<AbsDeltaOutput>(a, b, out, blockCount);
}

bool DiffXor_sse2(const std::uint8_t* a, const std::uint8_t* b,
                  std::uint8_t* out, std::size_t blockCount) {
    return DiffAllBlocks<XorOutput>(a, b, out, blockCount);
}

bool CompareBlocks_sse2(const std::uint8_t* a, const std::uint8_t* b, std::size_t blockCount) {
    return DiffBlocks<XorOutput, Store::None>(a, b, nullptr, blockCount);
}

bool BytesWithin_sse2(const std::uint8_t* a, const std::uint8_t* b, std::size_t size,
                      std::uint8_t tolerance) {
    const __m128i limit = _mm_set1_epi8(static_cast<char>(tolerance));
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        // delta = max(a, b) - min(a, b)
        const __m128i delta = _mm_sub_epi8(_mm_max_epu8(va, vb), _mm_min_epu8(va, vb));
        // delta <= tolerance exactly where max(delta, tolerance) == tolerance
        const __m128i within = _mm_cmpeq_epi8(_mm_max_epu8(delta, limit), limit);
        // any byte beyond: a zero lane in the mask
        if (_mm_movemask_epi8(within) != 0xFFFF) {
            return false;
        }
    }
    return BytesWithin_scalar(a + i, b + i, size - i, tolerance);
}

namespace {

// Bit 3k of a 48-bit mask of differing bytes, for the 16 pixels of three
// blocks: set where pixel k has any byte set.
constexpr std::uint64_t kFirstByteOfEachPixel = 0x249249249249;

int BitCount(std::uint64_t bits) { return __builtin_popcountll(bits); }

}  // namespace

RowDifference MeasureRow_sse2(const std::uint8_t* a, const std::uint8_t* b, std::int32_t width) {
    RowDifference row;
    __m128i largest = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    std::int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const std::size_t offset = 3 * static_cast<std::size_t>(x);
        std::uint64_t differing = 0;
        for (int k = 0; k < 3; ++k) {
            // va[i] = a[offset + 16k + i], vb[i] likewise; any alignment
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + offset + 16 * k));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + offset + 16 * k));
            // delta[i] = max(va[i], vb[i]) - min(va[i], vb[i])
            const __m128i delta = _mm_sub_epi8(_mm_max_epu8(va, vb), _mm_min_epu8(va, vb));
            // largest[i] = max(largest[i], delta[i])
            largest = _mm_max_epu8(largest, delta);
            // bit i of the mask: delta[i] == 0; inverted, byte 16k + i differs
            const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(delta, zero)));
            differing |= static_cast<std::uint64_t>(~same & 0xFFFFu) << (16 * k);
        }
        if (differing == 0) {
            continue;
        }
        // Pixel k differs where any of bytes 3k, 3k + 1, 3k + 2 does.
        const std::uint64_t pixels = (differing | differing >> 1 | differing >> 2) & kFirstByteOfEachPixel;
        const std::int32_t first = x + __builtin_ctzll(pixels) / 3;
        row.first = row.pixels == 0 ? first : row.first;
        row.last = x + (63 - __builtin_clzll(pixels)) / 3;
        row.pixels += static_cast<std::uint32_t>(BitCount(pixels));
    }
    // The largest of the 16 lanes: each step folds the upper half onto the lower.
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 8));
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 4));
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 2));
    largest = _mm_max_epu8(largest, _mm_srli_si128(largest, 1));
    row.largestDelta = _mm_cvtsi128_si32(largest) & 0xFF;
    // The pixels after the last group of 16, one by one.
    const std::size_t done = 3 * static_cast<std::size_t>(x);
    const RowDifference rest = MeasureRow_scalar(a + done, b + done, width - x);
    if (rest.pixels != 0) {
        row.first = row.pixels == 0 ? x + rest.first : row.first;
        row.last = x + rest.last;
        row.pixels += rest.pixels;
    }
    row.largestDelta = std::max(row.largestDelta, rest.largestDelta);
    return row;
}

#endif
