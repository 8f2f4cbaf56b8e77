#include "run/compare_streams.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "diff/perceptual.h"
#include "diff/scope.h"
#include "image/image_file.h"
#include "image/frame_row_reader.h"
#include "image/own_readers.h"
#include "platform/platform.h"
#include "run/band_source.h"
#include "run/picture_streams.h"
#include "run/scoped_timer.h"
#include "stream/row_reader.h"

namespace {

// A band is about this many bytes of the 24-bit form (at least one row):
// two of them and the readers' windows stay in the processor's cache, and
// a small picture touches only a band's worth of fresh memory for each.
// Where B is read on a thread of its own, each band costs a hand-over
// between the threads, and bands four times as large pay less for it.
constexpr std::size_t kBandBytes = std::size_t{64} << 10;
constexpr std::size_t kBandBytesAhead = std::size_t{256} << 10;

// The phases' times summed over the bands, put in the record however the
// run ends, as the phase timers would.
class PhaseTotals {
public:
    explicit PhaseTotals(RunRecord& runRecord) : record(runRecord) {}
    ~PhaseTotals() {
        // The phase running when the run ended counts to its end.
        Stop();
        for (int phase = 0; phase < kPhaseCount; ++phase) {
            if (record.phases[phase].started) {
                record.phases[phase].milliseconds = ElapsedMs(ticks[phase], 0);
                record.phases[phase].ended = true;
            }
        }
    }
    PhaseTotals(const PhaseTotals&) = delete;
    PhaseTotals& operator=(const PhaseTotals&) = delete;

    // From now on the time counts to `phase`, with the run at `step`.
    void Enter(Phase phase, RunStep step) {
        const std::uint64_t now = QueryCounterTicks();
        if (running) {
            ticks[static_cast<int>(current)] += now - since;
        }
        running = true;
        current = phase;
        since = now;
        record.step = step;
        if (!record.Time(phase).started) {
            record.Time(phase) = PhaseTime{true, false, 0};
            record.phaseStartTicks = now;
        }
    }
    // The phase took no part after all: it is not told.
    void Forget(Phase phase) {
        Stop();
        ticks[static_cast<int>(phase)] = 0;
        record.Time(phase) = PhaseTime{};
    }
    // The time counts to no phase until the next Enter, with the run at `step`.
    void Pause(RunStep step) {
        Stop();
        record.step = step;
    }
    void Stop() {
        if (running) {
            ticks[static_cast<int>(current)] += QueryCounterTicks() - since;
            running = false;
        }
    }

private:
    RunRecord& record;
    std::uint64_t ticks[kPhaseCount] = {};
    bool running = false;
    Phase current = Phase::Load;
    std::uint64_t since = 0;
};

// Rows a band holds: about kBandBytes of the 24-bit form, at least one.
std::int32_t BandRows(const RowFacts& facts, bool twoThreads) {
    const std::size_t bytes = twoThreads ? kBandBytesAhead : kBandBytes;
    return static_cast<std::int32_t>(std::clamp<std::size_t>(bytes / (std::size_t{facts.width} * 3), 1, facts.height));
}

// What the bands so far add up to.
struct Totals {
    DiffStats stats;
    std::uint64_t compared = 0;
    bool differs = false;
};

// Adds the stats of a band whose first row is `top`.
void AddBand(DiffStats& total, const DiffStats& band, std::int32_t top) {
    total.antialiasedPixels += band.antialiasedPixels;
    if (band.differingPixels == 0) {
        return;
    }
    if (total.differingPixels == 0) {
        total.left = band.left;
        total.right = band.right;
        total.top = band.top + top;
    }
    total.differingPixels += band.differingPixels;
    total.left = std::min(total.left, band.left);
    total.right = std::max(total.right, band.right);
    total.bottom = band.bottom + top;
    total.largestDelta = std::max(total.largestDelta, band.largestDelta);
}

// The scope as a band whose first row is `top` sees it.
Scope ScopeOfBand(const Scope& scope, std::int32_t top) {
    Scope band = scope;
    for (Region& region : band.ignored) {
        region.y -= top;
    }
    return band;
}

// The anti-aliasing detector looks this many rows either side of a row:
// a band's last rows are decided with the next band, which carries twice
// as many rows of the band before it.
constexpr std::int32_t kDetectorReach = 2;

std::int32_t ReachOf(const Comparison& comparison) {
    return comparison.scope.antialiasing ? kDetectorReach : 0;
}

// Which rows of the band holding the picture's rows [bandTop, bandEnd)
// are decided now, those before `decided` being decided already: all but
// the last `reach`, which wait for the rows after them.
DecidedRows RowsToDecide(std::int32_t bandTop, std::int32_t bandEnd, std::int32_t height, std::int32_t reach,
                         std::int32_t decided) {
    const std::int32_t end = bandEnd == height ? height : std::max(decided, bandEnd - reach);
    return DecidedRows{bandTop, height, decided - bandTop, end - decided};
}

// Adds the band's decided rows to the totals; true when any of their
// samples differs. `classes`: where a perceptual measure tells each
// pixel's class, or null.
bool CompareBand(const Comparison& comparison, const Image* a, const Image* b, const DecidedRows& rows,
                 Totals& totals, std::uint8_t* classes) {
    const std::int32_t top = rows.top;
    const Scope& scope = comparison.scope;
    if (scope.Active()) {
        const Scope band = ScopeOfBand(scope, top);
        const ScopedDifference scoped =
            scope.Perceptual() ? MeasurePerceptual(a, b, rows, band, classes) : MeasureInScope(a, b, band);
        totals.compared += scoped.compared;
        totals.differs = totals.differs || scoped.differs;
        AddBand(totals.stats, scoped.stats, top);
        return scoped.differs;
    }
    if (!ImagesDiffer(a, b)) {
        return false;
    }
    totals.differs = true;
    if (comparison.measure) {
        AddBand(totals.stats, MeasureDifference(a, b), top);
    }
    return true;
}

// The pictures written as the bands are compared, where asked for.
struct BandOutputs {
    DifferenceStream* difference = nullptr;
    ReportStreams* report = nullptr;
};

// Only the answer is asked for, and a counted difference decides it.
bool AnswerAlone(const Comparison& comparison) {
    const Scope& scope = comparison.scope;
    return !comparison.measure && comparison.diffPath == nullptr && comparison.reportPictures[kPictureA] == nullptr &&
           scope.maxDiffering == 0 && !scope.maxAsShare;
}

bool Decided(const Comparison& comparison, const Totals& totals) {
    return comparison.scope.Active() ? totals.stats.differingPixels > 0 : totals.differs;
}

// Where a perceptual highlight keeps the classes of a band's pixels.
std::vector<std::uint8_t> ClassesRoom(const Comparison& comparison, const RowFacts& facts, std::int32_t bandRows,
                                      const BandOutputs& outputs) {
    const bool highlight =
        (outputs.difference != nullptr && comparison.mode == DiffMode::Highlight) || outputs.report != nullptr;
    if (!highlight || !comparison.scope.Perceptual()) {
        return {};
    }
    return std::vector<std::uint8_t>(std::size_t{facts.width} * static_cast<std::size_t>(bandRows));
}

// Only whether the pixels differ, and by how much, is asked of the bands:
// a band whose rows are stored alike in both files is the same band. No
// measure that counts compared pixels or looks past a band's rows, and no
// picture to write, which would need every band's rows.
bool AlikeBandsSkipped(const Comparison& comparison, const BandOutputs& outputs, const RowReader& readerA,
                       const RowReader& readerB) {
    return !comparison.scope.Active() && outputs.difference == nullptr && outputs.report == nullptr &&
           readerA.StoredForm() != 0 && readerA.StoredForm() == readerB.StoredForm();
}

bool SameStoredRows(const StoredRows& a, const StoredRows& b, std::int32_t rows) {
    for (std::size_t y = 0; y < static_cast<std::size_t>(rows); ++y) {
        if (std::memcmp(a.first + y * a.stride, b.first + y * b.stride, a.bytes) != 0) {
            return false;
        }
    }
    return true;
}

// Why the streams could not be compared (the run of whole pictures takes
// over), or null once every band is compared or the answer is known.
const char* CompareBands(const Comparison& comparison, RowReader& readerA, RowReader& readerB,
                         bool twoThreads, PhaseTotals& phases, const BandOutputs& outputs, Totals& totals) {
    const RowFacts& facts = readerA.Facts();
    const bool deepSamples = !comparison.ignoreAlpha;
    const auto height = static_cast<std::int32_t>(facts.height);
    const std::int32_t bandRows = BandRows(facts, twoThreads);
    const std::int32_t reach = ReachOf(comparison);
    const bool skipAlike = AlikeBandsSkipped(comparison, outputs, readerA, readerB);
    BandSource sourceA(readerA, deepSamples, bandRows, false, 2 * reach, skipAlike);
    BandSource sourceB(readerB, deepSamples, bandRows, twoThreads, 2 * reach, skipAlike);
    std::vector<std::uint8_t> classes = ClassesRoom(comparison, facts, bandRows + 2 * reach, outputs);
    const bool answerAlone = AnswerAlone(comparison);
    const char* reason = nullptr;
    std::int32_t decided = 0;
    for (std::int32_t top = 0; top < height; top += bandRows) {
        phases.Enter(Phase::Load, RunStep::LoadingA);
        if (!sourceA.Advance(reason)) {
            return reason;
        }
        phases.Enter(Phase::Load, RunStep::LoadingB);
        if (!sourceB.Advance(reason)) {
            return reason;
        }
        phases.Enter(Phase::Diff, RunStep::Comparing);
        const DecidedRows rows = RowsToDecide(sourceA.Top(), sourceA.Top() + sourceA.Rows(), height, reach, decided);
        decided += rows.count;
        if (skipAlike) {
            // Bands that differ come in runs: after one, the next are
            // turned as they are read, which is cheaper than later.
            const bool alike = SameStoredRows(sourceA.Stored(), sourceB.Stored(), sourceA.Rows());
            sourceA.TurnAsRead(!alike);
            sourceB.TurnAsRead(!alike);
            if (alike) {
                sourceA.Release();
                sourceB.Release();
                continue;
            }
        }
        phases.Enter(Phase::Load, RunStep::LoadingA);
        const Image* a = sourceA.Picture();
        phases.Enter(Phase::Load, RunStep::LoadingB);
        const Image* b = sourceB.Picture();
        phases.Enter(Phase::Diff, RunStep::Comparing);
        std::uint8_t* bandClasses = classes.empty() ? nullptr : classes.data();
        const bool rowsDiffer = CompareBand(comparison, a, b, rows, totals, bandClasses);
        if (answerAlone && Decided(comparison, totals)) {
            return nullptr;
        }
        if (outputs.difference != nullptr && rows.count > 0) {
            phases.Enter(Phase::Save, RunStep::Saving);
            outputs.difference->AddRows(a, b, rows, rowsDiffer, bandClasses);
        }
        if (outputs.report != nullptr && rows.count > 0) {
            // The report's pictures count to no phase of the timer.
            phases.Pause(RunStep::Reporting);
            outputs.report->AddRows(a, b, rows, rowsDiffer, bandClasses);
        }
        sourceA.Release();
        sourceB.Release();
    }
    phases.Enter(Phase::Load, RunStep::LoadingA);
    if (const char* why = sourceA.Finish()) {
        return why;
    }
    phases.Enter(Phase::Load, RunStep::LoadingB);
    return sourceB.Finish();
}

// Both files back at their start, the record as it was.
bool GiveUp(std::FILE* fileA, std::FILE* fileB, RunRecord& record) {
    const RunRecord fresh;
    std::copy(std::begin(fresh.phases), std::end(fresh.phases), std::begin(record.phases));
    record.step = RunStep::LoadingA;
    record.decided = false;
    std::rewind(fileA);
    if (fileB != nullptr) {
        std::rewind(fileB);
    }
    return false;
}

// Every row of a started reader, a band at a time, and what follows them.
const char* ReadToEnd(RowReader& reader, bool deepSamples) {
    const std::int32_t bandRows = BandRows(reader.Facts(), false);
    BandSource source(reader, deepSamples, bandRows, false);
    const char* reason = nullptr;
    for (std::uint32_t top = 0; top < reader.Facts().height; top += static_cast<std::uint32_t>(bandRows)) {
        if (!source.Advance(reason)) {
            return reason;
        }
        source.Release();
    }
    return source.Finish();
}

// The decision and the facts, from the totals of every band.
void Decide(const Comparison& comparison, const RowFacts& a, const RowFacts& b, const Totals& totals,
            RunRecord& record) {
    record.identical = !totals.differs;
    record.similar = !record.identical && comparison.scope.Active() &&
                     totals.stats.differingPixels <= comparison.scope.Allowed(totals.compared);
    if (comparison.measure) {
        const Samples samples = a.wide ? Samples::Bits16 : Samples::Bits8;
        const bool alpha = !comparison.ignoreAlpha && (a.transparency || b.transparency);
        record.facts = PairFacts{static_cast<std::int32_t>(a.width), static_cast<std::int32_t>(a.height),
                                 totals.stats, samples, alpha};
        record.measured = true;
    }
    record.decided = true;
}

// Only our own writer writes as the rows come; a report's pictures are
// all ours.
bool Streamable(const Comparison& comparison, const RunOutputs& outputs) {
    return comparison.diffPath == nullptr ||
           (outputs.difference != nullptr && !NeedsPictureLibrary(nullptr, comparison.diffPath));
}

// A pair's two files and their row readers.
struct PairReaders {
    std::FILE* fileA;
    std::FILE* fileB;
    std::unique_ptr<RowReader> a;
    std::unique_ptr<RowReader> b;
};

// False where a reader declines, or the sizes or precisions differ: those
// are for the run of whole pictures to tell, after it has read both files
// as it always does. A picture the library reads is read whole here.
bool StartReaders(const Comparison& comparison, PairReaders& readers, PhaseTotals& phases) {
    const bool deepSamples = !comparison.ignoreAlpha;
    readers.a = OpenRowReader(readers.fileA, comparison.maxPixels, deepSamples);
    readers.b = OpenRowReader(readers.fileB, comparison.maxPixels, deepSamples);
    phases.Enter(Phase::Load, RunStep::LoadingA);
    if (readers.a->Start() != nullptr) {
        return false;
    }
    phases.Enter(Phase::Load, RunStep::LoadingB);
    if (readers.b->Start() != nullptr) {
        return false;
    }
    const RowFacts& a = readers.a->Facts();
    const RowFacts& b = readers.b->Facts();
    return a.width == b.width && a.height == b.height && a.wide == b.wide;
}

enum class Agreement { Agree, Differ, Declined };

// Whether any sample of the pair differs, read up to the first band that
// does: the bands compared as for the answer alone, with nothing counted
// and no scope. Declined where a file turns out to be the library's.
Agreement FindDifference(const Comparison& comparison, const PairReaders& readers, bool twoThreads,
                         PhaseTotals& phases) {
    Comparison anySample;
    anySample.ignoreAlpha = comparison.ignoreAlpha;
    Totals totals;
    if (CompareBands(anySample, *readers.a, *readers.b, twoThreads, phases, BandOutputs{}, totals) != nullptr) {
        return Agreement::Declined;
    }
    return totals.differs ? Agreement::Differ : Agreement::Agree;
}

// Every band compared and the pictures asked for written as they come;
// false where a file turned out to be the library's.
bool CompareAllBands(const Comparison& comparison, RunOutputs& outputs, RunHost& host, RunRecord& record,
                     const PairReaders& readers, bool twoThreads, PhaseTotals& phases) {
    const RowFacts& a = readers.a->Facts();
    const RowFacts& b = readers.b->Facts();
    const std::int32_t pictureRows = BandRows(a, twoThreads) + 2 * ReachOf(comparison);
    std::unique_ptr<DifferenceStream> difference;
    if (comparison.diffPath != nullptr) {
        difference =
            std::make_unique<DifferenceStream>(comparison, comparison.mode, *outputs.difference, a, pictureRows);
    }
    std::unique_ptr<ReportStreams> report;
    if (outputs.report[kPictureA] != nullptr) {
        report = std::make_unique<ReportStreams>(comparison, outputs, a, b, pictureRows);
    }
    Totals totals;
    const BandOutputs pictures{difference.get(), report.get()};
    if (CompareBands(comparison, *readers.a, *readers.b, twoThreads, phases, pictures, totals) != nullptr) {
        // What was written of the pictures goes too: the run of whole
        // pictures writes them anew.
        phases.Stop();
        if ((difference != nullptr && !difference->Forget()) || (report != nullptr && !report->Forget())) {
            throw FatalError{Failure::SaveFailed};
        }
        return false;
    }
    phases.Enter(Phase::Diff, RunStep::Comparing);
    Decide(comparison, a, b, totals, record);
    if (difference != nullptr && !record.identical && !record.similar) {
        phases.Enter(Phase::Save, RunStep::Saving);
        difference->Place(host);
    } else {
        phases.Forget(Phase::Save);
    }
    if (report != nullptr && !record.identical) {
        phases.Pause(RunStep::Reporting);
        report->Place(host, record, readers.fileA, readers.fileB);
    }
    return true;
}

}  // namespace

bool CompareStreams(const Comparison& comparison, RunOutputs& outputs, RunHost& host, RunRecord& record,
                    std::FILE* fileA, std::FILE* fileB, bool twoThreads) {
    if (fileA == nullptr || fileB == nullptr || !Streamable(comparison, outputs)) {
        return false;
    }
    PairReaders readers{fileA, fileB, nullptr, nullptr};
    PhaseTotals phases(record);
    if (!StartReaders(comparison, readers, phases)) {
        phases.Stop();
        return GiveUp(fileA, fileB, record);
    }
    if (outputs.report[kPictureA] != nullptr) {
        // A pair that agrees writes no report pictures, so its first band
        // that differs is looked for first; only a pair that differs is
        // read again from its start, its pictures written as it goes.
        const Agreement agreement = FindDifference(comparison, readers, twoThreads, phases);
        if (agreement == Agreement::Agree) {
            phases.Enter(Phase::Diff, RunStep::Comparing);
            Decide(comparison, readers.a->Facts(), readers.b->Facts(), Totals{}, record);
            return true;
        }
        std::rewind(fileA);
        std::rewind(fileB);
        if (agreement == Agreement::Declined || !StartReaders(comparison, readers, phases)) {
            phases.Stop();
            return GiveUp(fileA, fileB, record);
        }
    }
    if (!CompareAllBands(comparison, outputs, host, record, readers, twoThreads, phases)) {
        return GiveUp(fileA, fileB, record);
    }
    return true;
}

bool CompareStreamWithItself(const Comparison& comparison, RunRecord& record, std::FILE* file) {
    const bool deepSamples = !comparison.ignoreAlpha;
    const std::unique_ptr<RowReader> reader = OpenOwnRowReader(file, comparison.maxPixels, deepSamples);
    if (reader == nullptr || reader->Start() != nullptr) {
        return GiveUp(file, nullptr, record);
    }
    PhaseTotals phases(record);
    phases.Enter(Phase::Load, RunStep::LoadingA);
    if (ReadToEnd(*reader, deepSamples) != nullptr) {
        phases.Stop();
        return GiveUp(file, nullptr, record);
    }
    phases.Enter(Phase::Diff, RunStep::Comparing);
    Decide(comparison, reader->Facts(), reader->Facts(), Totals{}, record);
    return true;
}
