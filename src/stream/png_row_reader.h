// PNG read as a stream of rows: the file through a small buffer, its image
// data inflated into a window of a few rows, each row unfiltered against
// the one above and turned into the 24-bit form (blue, green, red; 16-bit
// samples by their high byte; grey repeated; palette entries as colours),
// and beside it what the picture library's native bitmap holds: the alpha
// of colour types 4 and 6 and of tRNS chunks, and 16-bit samples whole.
// Memory: the window and two rows, whatever the picture's height.
//
// The rows are what the library gives (PNG_IGNOREGAMMA, then the 24-bit
// conversion), and where the library errs, what libpng gives (a grey
// colour key below 8 bits). Whatever the library might read otherwise
// (checksum errors, chunks out of place, streams too short or too long,
// sizes beyond libpng's limits) is declined: a reason is returned, and the
// file goes to the library. An interlaced picture keeps its raw rows in a
// frame, since its first row needs its last pass. A file is known to be sound only once Finish
// has read it to its end; until then its rows are provisional.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

// Where a batch of rows goes: row i at pixels + i * pixelStride (width * 3
// bytes), its alpha at alpha + i * alphaStride (width bytes; null: not
// wanted), its 16-bit samples at wide + i * wideStride (four a pixel, red,
// green, blue, alpha; null: not wanted).
struct RowsOut {
    std::uint8_t* pixels = nullptr;
    std::size_t pixelStride = 0;
    std::uint8_t* alpha = nullptr;
    std::size_t alphaStride = 0;
    std::uint16_t* wide = nullptr;
    std::size_t wideStride = 0;
};

// What a PNG holds, as far as its readers care.
struct PngFacts {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Samples of 16 bits, kept whole beside the 24-bit form.
    bool wide = false;
    // The file stores transparency: an alpha channel or a tRNS chunk.
    bool transparency = false;
    // Alpha rows come with the 24-bit ones: 8 bits a sample or less, and
    // transparency stored.
    bool alphaRows = false;
    // A browser shows the file exactly as the 24-bit form.
    bool shownAsIs = false;
};

// The reason Start gives for a header beyond the pixel limit (compared by
// address).
extern const char* const kPngTooManyPixels;

class PngRowReader {
public:
    // Reads `file` from where it stands (its start). Without `deepSamples`
    // only the 24-bit form is made: no alpha, no 16-bit samples.
    PngRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples);
    ~PngRowReader();
    PngRowReader(const PngRowReader&) = delete;
    PngRowReader& operator=(const PngRowReader&) = delete;

    // Reads the chunks before the image data; null, or why the file is
    // declined (kPngTooManyPixels: Facts() holds the size).
    const char* Start();
    const PngFacts& Facts() const;

    // The next `count` rows into `out`; null, or why the file is declined.
    const char* ReadRows(std::uint32_t count, const RowsOut& out);

    // After the last row: the end of the image data and the chunks after
    // it, to the end of the file; null, or why the file is declined.
    const char* Finish();

private:
    const char* ReadInterlacedRows(std::uint32_t count, const RowsOut& out);

    struct State;
    std::unique_ptr<State> state;
};
