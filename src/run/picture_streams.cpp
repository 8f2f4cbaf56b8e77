#include "run/picture_streams.h"

#include "diff/diff_image.h"
#include "diff/scope.h"
#include "image/image_file.h"
#include "platform/platform.h"

DifferenceStream::DifferenceStream(const Comparison& pairComparison, DiffMode pictureMode, AtomicFile& file,
                                   const RowFacts& facts, std::int32_t bandRows)
    : comparison(pairComparison), mode(pictureMode), output(file), width(facts.width), height(facts.height),
      band(RowFacts{facts.width, facts.height}, false, bandRows) {}

void DifferenceStream::AddRows(const Image* a, const Image* b, const DecidedRows& rows, bool differ,
                               const std::uint8_t* classes) {
    const auto count = static_cast<std::uint32_t>(rows.count);
    if (!differ && mode != DiffMode::Highlight) {
        written = writer != nullptr ? writer->WriteBlackRows(count) && written : written;
        waitingBlack += writer == nullptr ? count : 0;
        return;
    }
    if (writer == nullptr) {
        writer = std::make_unique<PngRowWriter>(output.Stream(), width, height,
                                                mode == DiffMode::Highlight ? PngRowWriter::Content::Any
                                                                            : PngRowWriter::Content::MostlyBlack);
        written = output.Stream() != nullptr && writer->WriteBlackRows(waitingBlack);
    }
    std::int32_t first = rows.first;
    if (classes != nullptr && mode == DiffMode::Highlight) {
        band.SetRows(rows.count);
        HighlightClasses(a, rows.first, rows.count, classes, band.image);
        first = 0;
    } else {
        band.SetRows(a->height);
        DiffInto(a, b, mode, band.image);
    }
    MarkIgnored(band.image, mode, comparison.scope, rows.top + rows.first - first);
    const std::size_t rowBytes = std::size_t{width} * 3;
    written = writer->WriteRows(band.image->pixels + static_cast<std::size_t>(first) * rowBytes, rowBytes, count) &&
              written;
}

bool DifferenceStream::Finish() { return writer != nullptr && writer->Finish() && written && output.Close(); }

void DifferenceStream::Place(RunHost& host) {
    if (!Finish() || !host.PlaceOutput(output)) {
        throw FatalError{Failure::SaveFailed};
    }
}

bool DifferenceStream::Forget() { return writer == nullptr || EmptyOpenFile(output.Stream()); }

ReportStreams::ReportStreams(const Comparison& comparison, const RunOutputs& outputs, const RowFacts& a,
                             const RowFacts& b, std::int32_t bandRows)
    : pictures{{outputs.report[kPictureA], nullptr}, {outputs.report[kPictureB], nullptr}},
      exact(comparison, DiffMode::AbsDelta, *outputs.report[kPictureDifference], a, bandRows),
      highlight(comparison, DiffMode::Highlight, *outputs.report[kPictureHighlight], a, bandRows) {
    const RowFacts* facts[2] = {&a, &b};
    for (int side = 0; side < 2; ++side) {
        PictureStream& picture = pictures[side];
        if (!facts[side]->shownAsIs) {
            picture.writer = std::make_unique<PngRowWriter>(picture.file->Stream(), facts[side]->width,
                                                            facts[side]->height, PngRowWriter::Content::Any);
            picture.written = picture.file->Stream() != nullptr;
        }
    }
}

void ReportStreams::AddRows(const Image* a, const Image* b, const DecidedRows& rows, bool differ,
                            const std::uint8_t* classes) {
    const Image* bands[2] = {a, b};
    const std::size_t rowBytes = std::size_t{static_cast<std::uint32_t>(a->width)} * 3;
    for (int side = 0; side < 2; ++side) {
        PictureStream& picture = pictures[side];
        if (picture.writer != nullptr) {
            const std::uint8_t* first = bands[side]->pixels + static_cast<std::size_t>(rows.first) * rowBytes;
            picture.written =
                picture.writer->WriteRows(first, rowBytes, static_cast<std::uint32_t>(rows.count)) && picture.written;
        }
    }
    exact.AddRows(a, b, rows, differ, nullptr);
    highlight.AddRows(a, b, rows, differ, classes);
}

bool ReportStreams::FinishPicture(PictureStream& picture, std::FILE* source) {
    if (picture.writer == nullptr) {
        CopyImageFile(source, *picture.file);
        return true;
    }
    return picture.writer->Finish() && picture.written && picture.file->Close();
}

void ReportStreams::Place(RunHost& host, RunRecord& record, std::FILE* fileA, std::FILE* fileB) {
    const auto fail = [&](ReportPicture which) {
        record.reportPicture = static_cast<std::uint8_t>(which);
        throw FatalError{Failure::SaveFailed};
    };
    record.step = RunStep::Reporting;
    std::FILE* sources[2] = {fileA, fileB};
    unsigned written = 0;
    for (unsigned side = 0; side < 2; ++side) {
        record.reportPicture = static_cast<std::uint8_t>(side);
        if (!FinishPicture(pictures[side], sources[side])) {
            fail(static_cast<ReportPicture>(side));
        }
        written |= 1u << side;
    }
    // Pixels may differ where no byte of the 24-bit form does; the exact
    // difference then holds their scaled differences.
    if (exact.Started()) {
        if (!exact.Finish()) {
            fail(kPictureDifference);
        }
        written |= 1u << kPictureDifference;
    }
    if (!highlight.Finish()) {
        fail(kPictureHighlight);
    }
    written |= 1u << kPictureHighlight;
    record.reportPicture = static_cast<std::uint8_t>(kReportPictures);
    if (!host.PlaceReportPictures(written)) {
        fail(kPictureA);
    }
}

bool ReportStreams::Forget() {
    bool emptied = exact.Forget() && highlight.Forget();
    for (PictureStream& picture : pictures) {
        emptied = (picture.writer == nullptr || EmptyOpenFile(picture.file->Stream())) && emptied;
    }
    return emptied;
}
