// The difference kernels: one pass over two pictures' buffers, 16-byte
// block by block, writing the per-byte difference and deciding whether any
// byte differs. They know nothing of rows or channels.
//
// Buffers follow the padding contract of Image (image/image.h): 16-byte
// aligned and readable and writable for all `blockCount` blocks, with equal
// (zero) bytes past the payload in both inputs. There is no remainder loop.
//
// Every kernel has a scalar twin with the same signature: the oracle of the
// vector version in tests, and the build's choice where SSE2 is missing or
// switched off (GLIMRA_FORCE_SCALAR).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/simd.h"

// Blocks covering `payloadBytes`, the last one possibly reaching into the tail.
inline std::size_t DiffBlockCount(std::size_t payloadBytes) {
    return (payloadBytes + 15) / 16;
}

using DiffKernel = bool (*)(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
                            std::size_t blockCount);
using CompareKernel = bool (*)(const std::uint8_t* a, const std::uint8_t* b,
                               std::size_t blockCount);

// out = max(a, b) - min(a, b) per byte; true when some byte differs.
bool DiffAbsDelta_scalar(const std::uint8_t* a, const std::uint8_t* b,
                         std::uint8_t* out, std::size_t blockCount);
// out = a ^ b per byte; true when some byte differs.
bool DiffXor_scalar(const std::uint8_t* a, const std::uint8_t* b,
                    std::uint8_t* out, std::size_t blockCount);
// The decision alone, for a run that writes no difference picture: true
// when some byte differs; no output buffer.
bool CompareBlocks_scalar(const std::uint8_t* a, const std::uint8_t* b, std::size_t blockCount);

// Whether every byte of a[0 .. size) differs from b's by at most
// `tolerance`: a row of a pair compared with --tolerance. Any alignment,
// any size: rows are packed, so a kernel may not read past them.
bool BytesWithin_scalar(const std::uint8_t* a, const std::uint8_t* b, std::size_t size,
                        std::uint8_t tolerance);

// How one row of `width` 24-bit pixels of a differs from b's: the pixels
// with any channel different, the first and last of them (x), and the
// largest difference of one channel. Rows are packed: nothing past
// 3 * width bytes is read.
struct RowDifference {
    std::uint32_t pixels = 0;
    std::int32_t first = 0;
    std::int32_t last = 0;
    int largestDelta = 0;
};
RowDifference MeasureRow_scalar(const std::uint8_t* a, const std::uint8_t* b, std::int32_t width);

#if GLIMRA_HAVE_SSE2
RowDifference MeasureRow_sse2(const std::uint8_t* a, const std::uint8_t* b, std::int32_t width);
bool BytesWithin_sse2(const std::uint8_t* a, const std::uint8_t* b, std::size_t size,
                      std::uint8_t tolerance);
bool DiffAbsDelta_sse2(const std::uint8_t* a, const std::uint8_t* b,
                       std::uint8_t* out, std::size_t blockCount);
bool DiffXor_sse2(const std::uint8_t* a, const std::uint8_t* b,
                  std::uint8_t* out, std::size_t blockCount);
bool CompareBlocks_sse2(const std::uint8_t* a, const std::uint8_t* b, std::size_t blockCount);
#endif

// The kernels the tool runs, chosen here and nowhere else.
#if GLIMRA_HAVE_SSE2
constexpr DiffKernel DiffAbsDelta = DiffAbsDelta_sse2;
constexpr DiffKernel DiffXor = DiffXor_sse2;
constexpr CompareKernel CompareBlocks = CompareBlocks_sse2;
constexpr auto BytesWithin = BytesWithin_sse2;
constexpr auto MeasureRow = MeasureRow_sse2;
#else
constexpr DiffKernel DiffAbsDelta = DiffAbsDelta_scalar;
constexpr DiffKernel DiffXor = DiffXor_scalar;
constexpr CompareKernel CompareBlocks = CompareBlocks_scalar;
constexpr auto BytesWithin = BytesWithin_scalar;
constexpr auto MeasureRow = MeasureRow_scalar;
#endif
