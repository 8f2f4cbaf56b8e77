// Uncompressed 24- and 32-bit BMP read as a stream of rows, each batch
// read from the file where it lies (bottom-up files from the end). Its
// result is the library's exactly: the pixel bytes (blue, green, red) as
// stored, the fourth byte of 32-bit pixels dropped whatever its bit masks
// say. Anything else (palettes, 16 bits, RLE, other headers, a file cut
// short, pixel data inside the header) is declined.
//
// Memory: one batch of rows as the file holds them.
#pragma once

#include <cstdio>
#include <vector>

#include "stream/row_reader.h"

class BmpRowReader : public RowReader {
public:
    // Reads `file`, open at its start.
    BmpRowReader(std::FILE* file, std::uint64_t maxPixels);

    const char* Start() override;
    const RowFacts& Facts() const override { return facts; }
    const char* ReadRows(std::uint32_t count, const RowsOut& out) override;
    const char* Finish() override { return nullptr; }

private:
    std::FILE* file;
    std::uint64_t maxPixels;
    RowFacts facts;
    bool topDown = false;
    std::size_t bytesPerPixel = 0;
    std::size_t pitch = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t nextRow = 0;
    std::vector<std::uint8_t> slice;
};
