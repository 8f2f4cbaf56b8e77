// The row work of the PNG reader: undoing the row filters, and turning the
// most common pixels into the 24-bit form.
//
// The filters (Sub, Up, Average, Paeth) are undone in place. `row` holds
// the filtered bytes of one row and becomes the raw ones; `previous` is the
// row above, already unfiltered (zeros for the first row); both are `size`
// bytes; `bpp` is the number of bytes of one complete pixel, at least 1.
//
// Every routine has a scalar twin with the same signature, the oracle of
// the vector one in tests and the build's choice where SSE2 is missing or
// switched off. The SSE2 routines work a whole pixel at a time for 3- and
// 4-byte pixels (8-bit RGB and RGBA, which nearly every file is) and pass
// other sizes to their twin, except Up, which has no dependence between
// bytes and runs 16 at a time for any size. Sub, whose chain is a plain
// sum, adds four pixels at once as running sums; Paeth, the slowest,
// unfilters up to four rows side by side where they follow each other.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/simd.h"

using UnfilterKernel = void (*)(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                                std::size_t bpp);

// row[i] += row[i - bpp]
void UnfilterSub_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                        std::size_t bpp);
// row[i] += previous[i]
void UnfilterUp_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                       std::size_t bpp);
// row[i] += (row[i - bpp] + previous[i]) / 2
void UnfilterAverage_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                            std::size_t bpp);
// row[i] += the Paeth predictor of row[i - bpp], previous[i], previous[i - bpp]
void UnfilterPaeth_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                          std::size_t bpp);

#if GLIMRA_HAVE_SSE2
void UnfilterSub_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                      std::size_t bpp);
void UnfilterUp_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                     std::size_t bpp);
void UnfilterAverage_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                          std::size_t bpp);
void UnfilterPaeth_sse2(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                        std::size_t bpp);
#endif

// `count` consecutive Paeth rows, `stride` bytes apart, the first with
// `previous` above it, as `count` calls of the single-row routine would.
void UnfilterPaethRows_scalar(std::uint8_t* first, std::size_t stride, const std::uint8_t* previous,
                              std::size_t size, std::size_t bpp, std::size_t count);
#if GLIMRA_HAVE_SSE2
void UnfilterPaethRows_sse2(std::uint8_t* first, std::size_t stride, const std::uint8_t* previous,
                            std::size_t size, std::size_t bpp, std::size_t count);
#endif

// 8-bit RGB to the 24-bit form, blue-green-red: `width` pixels from `rgb`
// to `bgr`, which do not overlap.
void SwapRedAndBlue_scalar(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width);
#if GLIMRA_HAVE_SSE2
void SwapRedAndBlue_sse2(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width);
#endif

// 8-bit RGBA to the 24-bit form and the alpha, in one pass: `width` pixels
// from `rgba` to `bgr` (blue-green-red) and `alpha`, none overlapping.
void SplitRgba_scalar(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width);
#if GLIMRA_HAVE_SSE2
void SplitRgba_sse2(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width);
#endif

// The same two with SSSE3's byte shuffle, for processors that have it.
#if GLIMRA_HAVE_SSE2
void SwapRedAndBlue_ssse3(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width);
void SplitRgba_ssse3(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width);
#endif

// The conversions the readers and the writer run: the SSSE3 forms where
// the processor has SSSE3 (every x86-64 processor since about 2008), the
// SSE2 forms on others, the scalar twins without SSE2.
void SwapRedAndBlue(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width);
void SplitRgba(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width);

// The routines the reader runs (for the filters by type 1 to 4; index 0,
// "None", has nothing to undo and is null), chosen here and nowhere else.
#if GLIMRA_HAVE_SSE2
constexpr UnfilterKernel kUnfilter[5] = {nullptr, UnfilterSub_sse2, UnfilterUp_sse2,
                                         UnfilterAverage_sse2, UnfilterPaeth_sse2};
constexpr auto UnfilterPaethRows = UnfilterPaethRows_sse2;
#else
constexpr UnfilterKernel kUnfilter[5] = {nullptr, UnfilterSub_scalar, UnfilterUp_scalar,
                                         UnfilterAverage_scalar, UnfilterPaeth_scalar};
constexpr auto UnfilterPaethRows = UnfilterPaethRows_scalar;
#endif
