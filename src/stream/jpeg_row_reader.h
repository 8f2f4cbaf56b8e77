// JPEG read as a stream of rows, by libjpeg-turbo, the decoder the picture
// library itself calls: with the settings the library's load gets from us
// (the exact inverse DCT, smooth chroma upsampling) the same decoder gives
// the same pixels, straight into the rows in the library's channel order
// (blue, green, red), grey replicated into all three. CMYK and YCCK files,
// other precisions and anything libjpeg reports as an error are declined.
// Markers are skipped unread: no EXIF is parsed.
//
// The decoder is fed as the library feeds it: 4 KiB at a time from the
// file, a fake end marker once the file ends (libjpeg's stdio source, which
// the library's own source copies). libjpeg recovers from damaged data
// differently depending on where its input buffer ends, so a file given
// whole decoded to other pixels than the library's.
//
// Memory: libjpeg's row buffers, or for a progressive file its
// coefficients, about two bytes a sample.
#pragma once

#include <cstdio>
#include <memory>

#include "stream/row_reader.h"

class JpegRowReader : public RowReader {
public:
    // Reads `file` from where it stands (its start).
    JpegRowReader(std::FILE* file, std::uint64_t maxPixels);
    ~JpegRowReader() override;
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    const char* Start() override;
    const RowFacts& Facts() const override;
    const char* ReadRows(std::uint32_t count, const RowsOut& out) override;
    const char* Finish() override;

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder;
    std::FILE* file;
    std::uint64_t maxPixels;
    RowFacts facts;
};
