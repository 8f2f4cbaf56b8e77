// A picture read as a stream of rows, top row first, a batch at a time:
// each row in the 24-bit form (blue, green, red, as the picture library's
// conversion gives it) and beside it what the library's native bitmap
// holds beyond that (alpha, 16-bit samples). One reader per format of
// ours; a reader that meets anything the library might read otherwise
// declines: it returns a reason, and the file goes to the library.
//
// A file is known to be sound only once Finish has read it to its end;
// until then the rows are provisional.
#pragma once

#include <cstddef>
#include <cstdint>

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

// What a picture holds, as far as its readers care.
struct RowFacts {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Samples of 16 bits, kept whole beside the 24-bit form.
    bool wide = false;
    // The file stores transparency: an alpha channel, a tRNS chunk.
    bool transparency = false;
    // Alpha rows come with the 24-bit ones: 8 bits a sample or less, and
    // transparency stored.
    bool alphaRows = false;
    // A browser shows the file exactly as the 24-bit form.
    bool shownAsIs = false;
};

// Rows as the file stores them, any filtering undone, before they are
// turned into the 24-bit form: row i's `bytes` bytes at first + i * stride.
struct StoredRows {
    const std::uint8_t* first = nullptr;
    std::size_t stride = 0;
    std::size_t bytes = 0;
};

// The reason Start gives for a header beyond the pixel limit (compared by
// address); Facts() then holds the size.
extern const char* const kTooManyPixels;

class RowReader {
public:
    virtual ~RowReader() = default;

    // Reads the header; null, or why the file is declined.
    virtual const char* Start() = 0;
    virtual const RowFacts& Facts() const = 0;
    // The next `count` rows into `out`; null, or why the file is declined.
    virtual const char* ReadRows(std::uint32_t count, const RowsOut& out) = 0;
    // After the last row: whatever the file holds after it; null, or why
    // the file is declined.
    virtual const char* Finish() = 0;

    // Reading in two steps, where the reader has them: two readers with
    // the same nonzero StoredForm turn the same stored rows into the same
    // rows, so a pair's stored rows that agree need not be turned at all.
    // 0: the reader turns rows only as ReadRows reads them.
    virtual std::uint32_t StoredForm() const { return 0; }
    // Bytes ReadStoredRows may put in its room for `count` rows.
    virtual std::size_t StoredRoomBytes(std::uint32_t /*count*/) const { return 0; }
    // The next `count` rows, stored, into `room` or where the reader keeps
    // them anyway; they stay there until the room is used again or the
    // reader goes. Unless `out` is null, they are turned into it too, each
    // as it is read. Null, or why the file is declined.
    virtual const char* ReadStoredRows(std::uint32_t /*count*/, std::uint8_t* /*room*/, StoredRows& /*rows*/,
                                       const RowsOut* /*out*/) {
        return "rows not stored";
    }
    // `count` rows ReadStoredRows gave, turned into `out`. It reads only
    // what Start read, so it may run beside ReadStoredRows on another
    // thread.
    virtual void ConvertStoredRows(const StoredRows& /*rows*/, std::uint32_t /*count*/, const RowsOut& /*out*/) const {}
};
