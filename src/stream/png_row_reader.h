// PNG read as a stream of rows: the file through a small buffer, its image
// data inflated into a window of a few rows, each row unfiltered against
// the one above and turned into the 24-bit form (blue, green, red; 16-bit
// samples by their high byte; grey repeated; palette entries as colours),
// and beside it what the picture library's native bitmap holds: the alpha
// of colour types 4 and 6 and of tRNS chunks, and 16-bit samples whole.
// Memory: the window and two rows, whatever the picture's height. Read in
// two steps (colour rows without a colour key), the raw rows go to the
// caller's room instead, where they stay unfiltered until turned.
//
// The rows are what the library gives (PNG_IGNOREGAMMA, then the 24-bit
// conversion), and where the library errs, what libpng gives (a grey
// colour key below 8 bits). Whatever the library might read otherwise
// (checksum errors, chunks out of place, streams too short or too long,
// sizes beyond libpng's limits) is declined: a reason is returned, and the
// file goes to the library. An interlaced picture keeps its raw rows in a
// frame, since its first row needs its last pass.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "stream/row_reader.h"

class PngRowReader : public RowReader {
public:
    // Reads `file` from where it stands (its start). Without `deepSamples`
    // only the 24-bit form is made: no alpha, no 16-bit samples.
    PngRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples);
    ~PngRowReader() override;
    PngRowReader(const PngRowReader&) = delete;
    PngRowReader& operator=(const PngRowReader&) = delete;

    // Reads the chunks before the image data.
    const char* Start() override;
    const RowFacts& Facts() const override;
    const char* ReadRows(std::uint32_t count, const RowsOut& out) override;
    // The end of the image data and the chunks after it, to the end of the
    // file.
    const char* Finish() override;

    std::uint32_t StoredForm() const override;
    std::size_t StoredRoomBytes(std::uint32_t count) const override;
    const char* ReadStoredRows(std::uint32_t count, std::uint8_t* room, StoredRows& rows,
                               const RowsOut* out) override;
    void ConvertStoredRows(const StoredRows& rows, std::uint32_t count, const RowsOut& out) const override;

private:
    const char* ReadInterlacedRows(std::uint32_t count, const RowsOut& out);

    struct State;
    std::unique_ptr<State> state;
};
