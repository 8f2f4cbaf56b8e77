#include "run/compare_streams.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "diff/perceptual.h"
#include "diff/scope.h"
#include "image/image_file.h"
#include "image/own_readers.h"
#include "platform/platform.h"
#include "run/band_source.h"
#include "run/scoped_timer.h"
#include "stream/row_reader.h"
#include "stream/png_row_writer.h"

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

// The difference picture, written band by band as the bands are compared.
// In the byte-wise modes rows that agree are black: those before the
// first that differs wait as a count, so that a pair that agrees costs no
// encoding. The highlight shows the faded picture everywhere.
class DifferenceStream {
public:
    DifferenceStream(const Comparison& pairComparison, AtomicFile& file, const RowFacts& pictureFacts,
                     std::int32_t bandRows)
        : comparison(pairComparison), output(file), facts(pictureFacts),
          band(RowFacts{pictureFacts.width, pictureFacts.height}, false, bandRows) {}
    DifferenceStream(const DifferenceStream&) = delete;
    DifferenceStream& operator=(const DifferenceStream&) = delete;

    // The decided rows of bands `a` and `b`; `classes` holds their pixels'
    // classes where a perceptual highlight shows them.
    void AddRows(const Image* a, const Image* b, const DecidedRows& rows, bool differ, const std::uint8_t* classes) {
        const DiffMode mode = comparison.mode;
        const auto count = static_cast<std::uint32_t>(rows.count);
        if (!differ && mode != DiffMode::Highlight) {
            written = writer != nullptr ? writer->WriteBlackRows(count) && written : written;
            waitingBlack += writer == nullptr ? count : 0;
            return;
        }
        if (writer == nullptr) {
            writer = std::make_unique<PngRowWriter>(output.Stream(), facts.width, facts.height,
                                                    mode == DiffMode::Highlight ? PngRowWriter::Content::Any
                                                                                : PngRowWriter::Content::MostlyBlack);
            written = output.Stream() != nullptr && writer->WriteBlackRows(waitingBlack);
        }
        std::int32_t first = rows.first;
        if (classes != nullptr) {
            band.SetRows(rows.count);
            HighlightClasses(a, rows.first, rows.count, classes, band.image);
            first = 0;
        } else {
            band.SetRows(a->height);
            DiffInto(a, b, mode, band.image);
        }
        MarkIgnored(band.image, mode, comparison.scope, rows.top + rows.first - first);
        const std::size_t rowBytes = std::size_t{facts.width} * 3;
        written = writer->WriteRows(band.image->pixels + static_cast<std::size_t>(first) * rowBytes, rowBytes, count) &&
                  written;
    }
    // Ends the file and has it put in place; FatalError (SaveFailed) when
    // that failed.
    void Place(RunHost& host) {
        if (writer == nullptr || !writer->Finish() || !written || !output.Close() || !host.PlaceOutput(output)) {
            throw FatalError{Failure::SaveFailed};
        }
    }

    // Nothing written is kept: the file is empty again.
    bool Forget() { return writer == nullptr || EmptyOpenFile(output.Stream()); }

private:
    const Comparison& comparison;
    AtomicFile& output;
    const RowFacts& facts;
    // Its 24-bit form alone: a difference picture has no planes.
    Band band;
    std::unique_ptr<PngRowWriter> writer;
    std::uint32_t waitingBlack = 0;
    bool written = true;
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
                                      bool differencePicture) {
    if (!differencePicture || comparison.mode != DiffMode::Highlight || !comparison.scope.Perceptual()) {
        return {};
    }
    return std::vector<std::uint8_t>(std::size_t{facts.width} * static_cast<std::size_t>(bandRows));
}

// Why the streams could not be compared (the run of whole pictures takes
// over), or null once every band is compared or the answer is known.
const char* CompareBands(const Comparison& comparison, RowReader& readerA, RowReader& readerB,
                         bool twoThreads, PhaseTotals& phases, DifferenceStream* difference, Totals& totals) {
    const RowFacts& facts = readerA.Facts();
    const bool deepSamples = !comparison.ignoreAlpha;
    const auto height = static_cast<std::int32_t>(facts.height);
    const std::int32_t bandRows = BandRows(facts, twoThreads);
    const std::int32_t reach = ReachOf(comparison);
    BandSource sourceA(readerA, deepSamples, bandRows, false, 2 * reach);
    BandSource sourceB(readerB, deepSamples, bandRows, twoThreads, 2 * reach);
    std::vector<std::uint8_t> classes = ClassesRoom(comparison, facts, bandRows + 2 * reach, difference != nullptr);
    const bool answerAlone = AnswerAlone(comparison);
    const char* reason = nullptr;
    std::int32_t decided = 0;
    for (std::int32_t top = 0; top < height; top += bandRows) {
        phases.Enter(Phase::Load, RunStep::LoadingA);
        const Image* a = sourceA.Next(reason);
        if (a == nullptr) {
            return reason;
        }
        phases.Enter(Phase::Load, RunStep::LoadingB);
        const Image* b = sourceB.Next(reason);
        if (b == nullptr) {
            return reason;
        }
        phases.Enter(Phase::Diff, RunStep::Comparing);
        const DecidedRows rows = RowsToDecide(sourceA.Top(), sourceA.Top() + a->height, height, reach, decided);
        decided += rows.count;
        std::uint8_t* bandClasses = classes.empty() ? nullptr : classes.data();
        const bool rowsDiffer = CompareBand(comparison, a, b, rows, totals, bandClasses);
        if (answerAlone && Decided(comparison, totals)) {
            return nullptr;
        }
        if (difference != nullptr && rows.count > 0) {
            phases.Enter(Phase::Save, RunStep::Saving);
            difference->AddRows(a, b, rows, rowsDiffer, bandClasses);
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
        if (source.Next(reason) == nullptr) {
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

// Only our own writer writes as the rows come.
bool Streamable(const Comparison& comparison, const RunOutputs& outputs) {
    return comparison.reportPictures[kPictureA] == nullptr &&
           (comparison.diffPath == nullptr ||
            (outputs.difference != nullptr && !NeedsPictureLibrary(nullptr, comparison.diffPath)));
}

}  // namespace

bool CompareStreams(const Comparison& comparison, RunOutputs& outputs, RunHost& host, RunRecord& record,
                    std::FILE* fileA, std::FILE* fileB, bool twoThreads) {
    if (fileA == nullptr || fileB == nullptr || !Streamable(comparison, outputs)) {
        return false;
    }
    const bool deepSamples = !comparison.ignoreAlpha;
    const std::unique_ptr<RowReader> rowReaderA = OpenOwnRowReader(fileA, comparison.maxPixels, deepSamples);
    const std::unique_ptr<RowReader> rowReaderB = OpenOwnRowReader(fileB, comparison.maxPixels, deepSamples);
    // Sizes or precisions that differ are for the run of whole pictures to
    // tell, after it has read both files as it always does.
    if (rowReaderA == nullptr || rowReaderB == nullptr || rowReaderA->Start() != nullptr ||
        rowReaderB->Start() != nullptr) {
        return GiveUp(fileA, fileB, record);
    }
    RowReader& readerA = *rowReaderA;
    RowReader& readerB = *rowReaderB;
    const RowFacts& a = readerA.Facts();
    const RowFacts& b = readerB.Facts();
    if (a.width != b.width || a.height != b.height || a.wide != b.wide) {
        return GiveUp(fileA, fileB, record);
    }
    PhaseTotals phases(record);
    std::unique_ptr<DifferenceStream> difference;
    if (comparison.diffPath != nullptr) {
        difference = std::make_unique<DifferenceStream>(comparison, *outputs.difference, a,
                                                        BandRows(a, twoThreads) + 2 * ReachOf(comparison));
    }
    Totals totals;
    if (CompareBands(comparison, readerA, readerB, twoThreads, phases, difference.get(), totals) != nullptr) {
        // A file that turned out to be one for the library: what was
        // written of the difference picture goes too.
        phases.Stop();
        if (difference != nullptr && !difference->Forget()) {
            throw FatalError{Failure::SaveFailed};
        }
        return GiveUp(fileA, fileB, record);
    }
    phases.Enter(Phase::Diff, RunStep::Comparing);
    Decide(comparison, a, b, totals, record);
    if (difference != nullptr && !record.identical && !record.similar) {
        phases.Enter(Phase::Save, RunStep::Saving);
        difference->Place(host);
    } else {
        phases.Forget(Phase::Save);
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
