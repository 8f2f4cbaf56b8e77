// PNG files put together chunk by chunk, so that tests can write what
// encoders rarely do: any colour type, depth, filter or chunk order,
// broken checksums and cut streams.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

extern const std::string kPngSignature;

// length, type, data, CRC
std::string PngChunk(const std::string& type, const std::string& data);

std::string PngHeaderChunk(std::uint32_t width, std::uint32_t height, int bitDepth = 8,
                           int colourType = 2, int interlace = 0);

// The zlib stream of `bytes` at the given level (0 stores them).
std::string Deflated(const std::string& bytes, int level = 6);

// A whole PNG: signature, header, `chunksBeforeData` (PLTE, tRNS, gAMA …
// as made by PngChunk), the zlib stream of `scanlines` (each row led by its
// filter byte) in IDAT chunks of at most `idatSize` bytes, and IEND.
std::string MakePng(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType,
                    const std::string& scanlines, const std::string& chunksBeforeData = "",
                    int interlace = 0, std::size_t idatSize = std::size_t{1} << 20);

// Raw rows (each `rowBytes` long, no filter bytes) filtered the way an
// encoder would: row y with filter type filterOf(y) (0 to 4), led by its
// filter byte. `bpp` is the number of bytes of one pixel, at least 1.
std::string FilterRows(const std::string& raw, std::size_t rowBytes, std::size_t bpp,
                       const std::function<int(std::size_t row)>& filterOf);

// The seven Adam7 passes of raw rows (each `rowBytes` long, no filter
// bytes) of a picture of `bitsPerPixel` bits a pixel, each pass filtered as
// FilterRows does, in the order an interlaced PNG holds them.
std::string Adam7Scanlines(const std::string& raw, std::uint32_t width, std::uint32_t height,
                           std::size_t bitsPerPixel, const std::function<int(std::size_t row)>& filterOf);
