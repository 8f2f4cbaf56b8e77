#include "run/compare_images.h"

#include <memory>
#include <thread>
#include <vector>

#include "diff/perceptual.h"
#include "image/image_file.h"
#include "image/own_readers.h"
#include "image/png_writer.h"
#include "platform/platform.h"
#include "run/compare_streams.h"
#include "run/same_bytes.h"
#include "run/scoped_timer.h"

namespace {

// The pictures of a run, destroyed whichever way it ends, and the files
// they came from, open until then.
struct RunImages {
    PictureFile fileA;
    PictureFile fileB;
    Image* a = nullptr;
    Image* b = nullptr;
    Image* diff = nullptr;
    // Under a perceptual scope, what became of each pixel, where a
    // highlight is to show it (diff/perceptual.h).
    std::vector<std::uint8_t> classes;

    RunImages() = default;
    RunImages(const RunImages&) = delete;
    RunImages& operator=(const RunImages&) = delete;
    ~RunImages() {
        ReleaseInputs();
        DestroyImage(diff);
    }
    // Once the difference picture is made, A and B serve only a report;
    // their memory serves the encoding instead.
    void ReleaseInputs() {
        DestroyImage(a);
        if (b != a) {
            DestroyImage(b);
        }
        a = nullptr;
        b = nullptr;
    }
};

// Below this size of each file, a second thread saves little wall time
// (bench/paired.py: a 44 KB 720p screenshot 0.93 of it, a 335 KB 4K one
// 0.79, a 12 MB 4K photo 0.64) for what it costs: up to 8 % more
// processor time, the kernel clearing B's inflating buffer, which B read
// after A takes over from A, and that buffer's half frame more of peak.
constexpr std::uint64_t kSideBySideBytes = std::uint64_t{256} << 10;

// Both files large enough to gain; the caller knows that our readers take
// both.
bool WorthReadingSideBySide(std::FILE* fileA, std::FILE* fileB) {
    FileIdentity a;
    FileIdentity b;
    return fileA != nullptr && fileB != nullptr && QueryOpenFileIdentity(fileA, a) &&
           QueryOpenFileIdentity(fileB, b) && a.size >= kSideBySideBytes && b.size >= kSideBySideBytes;
}

// B by our own reader on a thread of its own while A loads here. The step
// stays LoadingA until A is done: a worker that dies meanwhile is blamed
// on A, which only our readers, fuzzed and exact, share the time with.
void ReadSideBySide(const Comparison& comparison, RunRecord& record, RunImages& images, bool deepSamples) {
    std::FILE* fileB = images.fileB.get();
    ReadResult b;
    bool failedB = false;
    FatalError failureB{};
    std::thread reader([&] {
        try {
            b = ReadWithOwnReader(fileB, comparison.maxPixels, deepSamples);
        } catch (const FatalError& error) {
            failedB = true;
            failureB = error;
        }
    });
    try {
        record.step = RunStep::LoadingA;
        images.a = LoadImageFile(images.fileA.get(), comparison.maxPixels, deepSamples);
    } catch (...) {
        reader.join();
        DestroyImage(b.image);
        throw;
    }
    reader.join();
    record.step = RunStep::LoadingB;
    if (failedB) {
        throw failureB;
    }
    // Declined, or too large: the usual way says what becomes of it.
    images.b = b.image != nullptr ? b.image : LoadImageFile(fileB, comparison.maxPixels, deepSamples);
}

// What is known of the two files once they are open.
struct OpenedFiles {
    // The same bytes decode to the same pixels: B is A, and every message,
    // timer line and answer stays what two loads give.
    bool sameBytes = false;
    bool libraryForA = false;
    bool libraryForB = false;
};

// Opens both files and tells the host whether the library will be needed.
OpenedFiles OpenBoth(const Comparison& comparison, RunHost& host, RunRecord& record, RunImages& images) {
    record.step = RunStep::LoadingA;
    images.fileA = host.OpenInput(0, comparison.pathA);
    record.step = RunStep::LoadingB;
    images.fileB = host.OpenInput(1, comparison.pathB);
    std::FILE* fileA = images.fileA.get();
    std::FILE* fileB = images.fileB.get();
    OpenedFiles opened;
    opened.sameBytes = FilesHaveSameBytes(fileA, fileB);
    opened.libraryForA = NeedsPictureLibrary(fileA, nullptr);
    opened.libraryForB = !opened.sameBytes && NeedsPictureLibrary(fileB, nullptr);
    host.InputsOpen(NeedsPictureLibrary(nullptr, comparison.diffPath) || opened.libraryForA ||
                    opened.libraryForB);
    return opened;
}

// Pairs are compared as streams of rows where the run allows (a picture
// the library reads is handed on from its frame); false where it takes
// whole pictures.
bool CompareAsStreams(const Comparison& comparison, RunOutputs& outputs, RunHost& host, RunRecord& record,
                      const RunImages& images, const OpenedFiles& opened) {
    std::FILE* fileA = images.fileA.get();
    std::FILE* fileB = images.fileB.get();
    if (fileA == nullptr || comparison.wholePictures) {
        return false;
    }
    if (opened.sameBytes) {
        return CompareStreamWithItself(comparison, record, fileA);
    }
    return CompareStreams(comparison, outputs, host, record, fileA, fileB,
                          comparison.readSideBySide && WorthReadingSideBySide(fileA, fileB));
}

void LoadBoth(const Comparison& comparison, RunRecord& record, RunImages& images, const OpenedFiles& opened) {
    ScopedTimer timer(record, Phase::Load);
    std::FILE* fileA = images.fileA.get();
    std::FILE* fileB = images.fileB.get();
    const bool sameBytes = opened.sameBytes;
    // Where the 24-bit forms alone decide, nothing else is kept.
    const bool deepSamples = !comparison.ignoreAlpha;
    // Only our readers run side by side: no library decoder beside another.
    if (comparison.readSideBySide && !sameBytes && !opened.libraryForA && !opened.libraryForB &&
        WorthReadingSideBySide(fileA, fileB)) {
        ReadSideBySide(comparison, record, images, deepSamples);
    } else {
        record.step = RunStep::LoadingA;
        images.a = LoadImageFile(fileA, comparison.maxPixels, deepSamples);
        record.step = RunStep::LoadingB;
        images.b = sameBytes ? images.a : LoadImageFile(fileB, comparison.maxPixels, deepSamples);
    }
    // glibc raises its mapping threshold once the first library frame is
    // freed, so the second one came from the heap and stays there when
    // freed: hand it back before the difference picture adds to the peak.
    if (comparison.diffPath != nullptr) {
        ReleaseFreeHeapMemory();
    }
}

// Under --ignore-alpha the pictures hold their 24-bit forms alone, and
// nothing is left to match.
void MatchPrecision(RunImages& images) {
    if (!MatchSamples(images.a, images.b)) {
        FatalError error{Failure::SamplesDiffer};
        error.samples[0] = static_cast<std::uint8_t>(images.a->samples);
        error.samples[1] = static_cast<std::uint8_t>(images.b->samples);
        throw error;
    }
}

// A perceptual scope keeps each pixel's class where a highlight will show it.
ScopedDifference MeasureScoped(const Comparison& comparison, RunImages& images) {
    const Scope& scope = comparison.scope;
    if (!scope.Perceptual()) {
        return MeasureInScope(images.a, images.b, scope);
    }
    const bool highlight = (comparison.diffPath != nullptr && comparison.mode == DiffMode::Highlight) ||
                           comparison.reportPictures[kPictureA] != nullptr;
    if (highlight) {
        images.classes.resize(static_cast<std::size_t>(images.a->width) * static_cast<std::size_t>(images.a->height));
    }
    const std::int32_t height = images.a->height;
    return MeasurePerceptual(images.a, images.b, DecidedRows{0, height, 0, height}, scope,
                             highlight ? images.classes.data() : nullptr);
}

// The difference picture in `mode` with the regions left out marked; null
// when no sample differs.
Image* DifferencePicture(const Comparison& comparison, const RunImages& images, DiffMode mode) {
    Image* picture = nullptr;
    if (mode == DiffMode::Highlight && !images.classes.empty()) {
        picture = CreateImage(images.a->width, images.a->height);
        HighlightClasses(images.a, 0, images.a->height, images.classes.data(), picture);
    } else {
        picture = CreateDiffImage(images.a, images.b, mode);
    }
    if (picture != nullptr) {
        MarkIgnored(picture, mode, comparison.scope);
    }
    return picture;
}

// Identical stays identical under any scope; a pair that differs is then
// measured within it, and passes as similar where the scope allows.
void CompareInScope(const Comparison& comparison, RunRecord& record, RunImages& images) {
    const Scope& scope = comparison.scope;
    const ScopedDifference scoped = MeasureScoped(comparison, images);
    record.identical = !scoped.differs;
    const DiffStats& stats = scoped.stats;
    record.similar = !record.identical && stats.differingPixels <= scope.Allowed(scoped.compared);
    if (!record.identical && !record.similar && comparison.diffPath != nullptr) {
        images.diff = DifferencePicture(comparison, images, comparison.mode);
    }
    if (comparison.measure) {
        record.facts = PairFacts{images.a->width, images.a->height, stats, images.a->samples,
                                 images.a->storesAlpha || images.b->storesAlpha};
        record.measured = true;
    }
}

void Compare(const Comparison& comparison, RunRecord& record, RunImages& images) {
    ScopedTimer timer(record, Phase::Diff);
    record.step = RunStep::Comparing;
    if (comparison.scope.Active()) {
        CompareInScope(comparison, record, images);
        record.decided = true;
        return;
    }
    // Without a place to write it, the difference picture is never made:
    // the decision alone needs no third frame.
    if (comparison.diffPath != nullptr) {
        images.diff = CreateDiffImage(images.a, images.b, comparison.mode);
        record.identical = images.diff == nullptr;
    } else {
        record.identical = !ImagesDiffer(images.a, images.b);
    }
    if (comparison.measure) {
        record.facts = PairFacts{images.a->width, images.a->height, DiffStats{}, images.a->samples,
                                 images.a->storesAlpha || images.b->storesAlpha};
        if (!record.identical) {
            record.facts.stats = MeasureDifference(images.a, images.b);
        }
        record.measured = true;
    }
    record.decided = true;
}

void Save(const Comparison& comparison, AtomicFile& output, RunHost& host, RunRecord& record,
          const Image* diff) {
    ScopedTimer timer(record, Phase::Save);
    record.step = RunStep::Saving;
    SaveImageFile(diff, comparison.diffPath, output);
    if (!host.PlaceOutput(output)) {
        throw FatalError{Failure::SaveFailed};
    }
}

struct ImageDestroyer {
    void operator()(Image* image) const { DestroyImage(image); }
};

// A and B, and where they have one size their exact difference and the
// highlight, for a report: written in no phase of the timer.
void WriteReportPictures(const Comparison& comparison, RunOutputs& outputs, RunHost& host,
                         RunRecord& record, const RunImages& images) {
    if (outputs.report[kPictureA] == nullptr) {
        return;
    }
    record.step = RunStep::Reporting;
    unsigned written = 0;
    // A PNG a browser shows as the comparison saw it goes as it is.
    const auto write = [&](ReportPicture which, const Image* image, std::FILE* file) {
        record.reportPicture = static_cast<std::uint8_t>(which);
        if (file != nullptr && image->shownAsIs) {
            CopyImageFile(file, *outputs.report[which]);
        } else if (which == kPictureDifference) {
            WritePng(image, *outputs.report[which], PngRowWriter::Content::MostlyBlack);
        } else {
            WritePng(image, *outputs.report[which]);
        }
        written |= 1u << which;
    };
    write(kPictureA, images.a, images.fileA.get());
    write(kPictureB, images.b, images.b == images.a ? images.fileA.get() : images.fileB.get());
    if (SameDimensions(images.a, images.b)) {
        const bool exact = images.diff != nullptr && comparison.mode == DiffMode::AbsDelta;
        const std::unique_ptr<Image, ImageDestroyer> difference(
            exact ? nullptr : DifferencePicture(comparison, images, DiffMode::AbsDelta));
        // Pixels may differ where no byte of the 24-bit form does; their
        // pictures then hold the scaled differences.
        if (exact || difference != nullptr) {
            write(kPictureDifference, exact ? images.diff : difference.get(), nullptr);
        }
        const std::unique_ptr<Image, ImageDestroyer> highlight(
            DifferencePicture(comparison, images, DiffMode::Highlight));
        if (highlight != nullptr) {
            write(kPictureHighlight, highlight.get(), nullptr);
        }
    }
    record.reportPicture = static_cast<std::uint8_t>(kReportPictures);
    if (!host.PlaceReportPictures(written)) {
        record.reportPicture = static_cast<std::uint8_t>(kPictureA);
        throw FatalError{Failure::SaveFailed};
    }
}

}  // namespace

PairStatus StatusOf(const RunRecord& record) {
    if (record.failure.failure != Failure::None || !record.decided) {
        return PairStatus::Failed;
    }
    return record.identical ? PairStatus::Identical : record.similar ? PairStatus::Similar : PairStatus::Different;
}

PairStatus CompareImages(const Comparison& comparison, RunOutputs& outputs, RunHost& host,
                         RunRecord& record) {
    try {
        RunImages images;
        const OpenedFiles opened = OpenBoth(comparison, host, record, images);
        if (CompareAsStreams(comparison, outputs, host, record, images, opened)) {
            record.answered = true;
            return StatusOf(record);
        }
        LoadBoth(comparison, record, images, opened);
        record.sizes[0][0] = images.a->width;
        record.sizes[0][1] = images.a->height;
        record.sizes[1][0] = images.b->width;
        record.sizes[1][1] = images.b->height;
        if (!SameDimensions(images.a, images.b)) {
            WriteReportPictures(comparison, outputs, host, record, images);
            throw FatalError{Failure::DimensionsDiffer};
        }
        MatchPrecision(images);
        Compare(comparison, record, images);
        if (images.diff != nullptr && outputs.report[kPictureA] == nullptr) {
            images.ReleaseInputs();
        }
        if (images.diff != nullptr) {
            Save(comparison, *outputs.difference, host, record, images.diff);
        }
        if (!record.identical) {
            WriteReportPictures(comparison, outputs, host, record, images);
        }
    } catch (const FatalError& error) {
        record.failure = error;
        record.failedAt = record.step;
    }
    record.answered = true;
    return StatusOf(record);
}
