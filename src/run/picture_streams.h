// The pictures a pair compared as streams writes as its bands are
// compared: the difference picture, and a report's four pictures. Memory:
// a band of each, whatever the picture's height.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "diff/perceptual.h"
#include "run/band_source.h"
#include "run/compare_images.h"
#include "stream/png_row_writer.h"

// A difference picture in `mode`, written band by band. In the byte-wise
// modes rows that agree are black: those before the first that differs
// wait as a count, so that a pair that agrees costs no encoding. The
// highlight shows the faded picture everywhere.
class DifferenceStream {
public:
    DifferenceStream(const Comparison& comparison, DiffMode mode, AtomicFile& file, const RowFacts& facts,
                     std::int32_t bandRows);
    DifferenceStream(const DifferenceStream&) = delete;
    DifferenceStream& operator=(const DifferenceStream&) = delete;

    // The decided rows of bands `a` and `b`; `classes` holds their pixels'
    // classes where a perceptual measure told them, for a highlight.
    void AddRows(const Image* a, const Image* b, const DecidedRows& rows, bool differ, const std::uint8_t* classes);
    // Whether any row was written: in the byte-wise modes, whether any differed.
    bool Started() const { return writer != nullptr; }
    // Ends the file and closes it; false when anything failed.
    bool Finish();
    // Finishes the file and has it put in place; FatalError (SaveFailed)
    // when that failed.
    void Place(RunHost& host);
    // Nothing written is kept: the file is empty again.
    bool Forget();

private:
    const Comparison& comparison;
    const DiffMode mode;
    AtomicFile& output;
    const std::uint32_t width;
    const std::uint32_t height;
    // Its 24-bit form alone: a difference picture has no planes.
    Band band;
    std::unique_ptr<PngRowWriter> writer;
    std::uint32_t waitingBlack = 0;
    bool written = true;
};

// A report's pictures, written band by band: A and B, the exact difference
// and the highlight. A PNG that a browser shows as the comparison saw it
// is copied whole at the end instead.
class ReportStreams {
public:
    ReportStreams(const Comparison& comparison, const RunOutputs& outputs, const RowFacts& a, const RowFacts& b,
                  std::int32_t bandRows);
    ReportStreams(const ReportStreams&) = delete;
    ReportStreams& operator=(const ReportStreams&) = delete;

    void AddRows(const Image* a, const Image* b, const DecidedRows& rows, bool differ, const std::uint8_t* classes);
    // Ends every picture (copying those that go as they are from `fileA`
    // and `fileB`) and has the host put them in place; FatalError
    // (SaveFailed) when that failed, `record` naming the picture.
    void Place(RunHost& host, RunRecord& record, std::FILE* fileA, std::FILE* fileB);
    bool Forget();

private:
    // A or B's own rows, or null where the file is copied.
    struct PictureStream {
        AtomicFile* file;
        std::unique_ptr<PngRowWriter> writer;
        bool written = true;
    };
    bool FinishPicture(PictureStream& picture, std::FILE* source);

    PictureStream pictures[2];
    DifferenceStream exact;
    DifferenceStream highlight;
};
