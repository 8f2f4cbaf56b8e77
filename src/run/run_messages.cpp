#include "run/run_messages.h"

#include "image/freeimage_library.h"

namespace {

// Failures met between the loading and the comparing phase, timed by
// neither.
bool BetweenPhases(Failure failure) {
    return failure == Failure::DimensionsDiffer || failure == Failure::SamplesDiffer;
}

const char* PhaseLabel(Phase phase) {
    switch (phase) {
    case Phase::Load: return "Load source images";
    case Phase::Diff: return "Perform diff";
    default: return "Save diff image";
    }
}

Phase PhaseOf(RunStep step) {
    switch (step) {
    case RunStep::LoadingA:
    case RunStep::LoadingB: return Phase::Load;
    case RunStep::Comparing: return Phase::Diff;
    // The report's pictures are saved after every phase, and worded so.
    default: return Phase::Save;
    }
}

// The file the run was at when it failed.
const char* FileAt(const RunRecord& record, const Comparison& comparison) {
    switch (record.failedAt) {
    case RunStep::LoadingA: return comparison.pathA;
    case RunStep::LoadingB: return comparison.pathB;
    case RunStep::Saving: return comparison.diffPath;
    case RunStep::Reporting:
        return record.reportPicture < kReportPictures ? comparison.reportPictures[record.reportPicture] : "";
    default: return "";
    }
}

// What a worker that ended in the middle of its step says.
std::string Unfinished(const RunRecord& record, const Comparison& comparison) {
    const FatalError& error = record.failure;
    const char* file = FileAt(record, comparison);
    const auto seconds = static_cast<unsigned>(error.limit);
    if (error.failure == Failure::TimedOut) {
        switch (PhaseOf(record.failedAt)) {
        case Phase::Load: return FormatMessage("Timed out after %u s loading %s", seconds, file);
        case Phase::Diff:
            return FormatMessage("Timed out after %u s comparing %s and %s", seconds,
                                 comparison.pathA, comparison.pathB);
        default: return FormatMessage("Timed out after %u s saving %s", seconds, file);
        }
    }
    switch (PhaseOf(record.failedAt)) {
    case Phase::Load: return FormatMessage("Failed to load %s", file);
    case Phase::Diff:
        return FormatMessage("Failed to compare %s and %s", comparison.pathA, comparison.pathB);
    default: return FormatMessage("Failed to save %s", file);
    }
}

}  // namespace

std::string FailureMessage(const RunRecord& record, const Comparison& comparison) {
    const FatalError& error = record.failure;
    const char* file = FileAt(record, comparison);
    switch (error.failure) {
    case Failure::None: return "";
    case Failure::OutOfMemory:
        return FormatMessage("Out of memory for a %dx%d image", static_cast<int>(error.width),
                             static_cast<int>(error.height));
    case Failure::LibraryUnavailable:
        if (kFreeImageInstalledApart) {
            return FormatMessage("Can't %s %s: its format needs %s, which was not found",
                                 PhaseOf(record.failedAt) == Phase::Save ? "write" : "read", file, kFreeImageFileName);
        }
        return FormatMessage("Cannot load the picture library %s", kFreeImageFileName);
    case Failure::UnknownFormat: return FormatMessage("Unknown fileformat for %s", file);
    case Failure::LoadFailed: return FormatMessage("Failed to load %s", file);
    case Failure::TooManyPixels:
        return FormatMessage("Too many pixels in %s: %llux%llu is more than the limit of %llu", file,
                             static_cast<unsigned long long>(error.width),
                             static_cast<unsigned long long>(error.height),
                             static_cast<unsigned long long>(error.limit));
    case Failure::UnknownOutputType: return FormatMessage("Can't save to unknown filetype %s\n", file);
    case Failure::BitmapNotMade: return FormatMessage("Failed to create freeimage for %s\n", file);
    case Failure::SaveFailed: return FormatMessage("Failed to save %s", file);
    case Failure::DimensionsDiffer: return "Dimensions of the images don't match!";
    case Failure::SamplesDiffer:
        return FormatMessage("Can't compare %s samples in %s with %s samples in %s",
                             SamplesName(static_cast<Samples>(error.samples[0])), comparison.pathA,
                             SamplesName(static_cast<Samples>(error.samples[1])), comparison.pathB);
    case Failure::UnsupportedSamples:
        return FormatMessage("Can't compare %s samples in %s",
                             SamplesName(static_cast<Samples>(error.samples[0])), file);
    default: return Unfinished(record, comparison);
    }
}

std::string FailureLine(const RunRecord& record, const Comparison& comparison) {
    std::string line = FailureMessage(record, comparison);
    while (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    return line;
}

namespace {

void PrintPhase(const RunRecord& record, const Comparison& comparison, Phase phase, bool verbose) {
    const PhaseTime& time = record.Time(phase);
    if (!time.started) {
        return;
    }
    const bool failedHere = record.failure.failure != Failure::None &&
                            !BetweenPhases(record.failure.failure) && record.failedAt != RunStep::Reporting &&
                            PhaseOf(record.failedAt) == phase;
    if (failedHere) {
        LogMessage("%s", FailureMessage(record, comparison).c_str());
    } else if (phase == Phase::Diff && record.decided && verbose) {
        LogMessage(record.identical ? "Images are identical" : record.similar ? "Images are similar" : "Images differ");
    }
    if (verbose && time.ended) {
        LogMessage("%s took %.1f ms", PhaseLabel(phase), static_cast<double>(time.milliseconds));
    }
}

}  // namespace

void PrintRunMessages(const RunRecord& record, const Comparison& comparison, bool verbose) {
    PrintPhase(record, comparison, Phase::Load, verbose);
    if (BetweenPhases(record.failure.failure)) {
        LogMessage("%s", FailureMessage(record, comparison).c_str());
    }
    PrintPhase(record, comparison, Phase::Diff, verbose);
    PrintPhase(record, comparison, Phase::Save, verbose);
    if (record.failure.failure != Failure::None && !BetweenPhases(record.failure.failure) &&
        record.failedAt == RunStep::Reporting) {
        LogMessage("%s", FailureMessage(record, comparison).c_str());
    }
}
