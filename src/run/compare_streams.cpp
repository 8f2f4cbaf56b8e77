#include "run/compare_streams.h"

#include <algorithm>
#include <cstring>

#include "diff/scope.h"
#include "platform/platform.h"
#include "run/scoped_timer.h"
#include "stream/png_row_reader.h"

namespace {

// A band is about this many bytes of the 24-bit form (at least one row):
// two of them and the readers' windows stay in the processor's cache.
constexpr std::size_t kBandBytes = std::size_t{256} << 10;

// A band of rows of one picture, held as a picture of that many rows, so
// that every kernel and measure made for pictures takes it as it is.
// Its planes hold what the reader delivers beside the 24-bit form.
class Band {
public:
    Band(const PngFacts& facts, bool deepSamples, std::int32_t rows)
        : image(CreateImage(static_cast<std::int32_t>(facts.width), rows)), fullRows(rows) {
        const auto width = static_cast<std::int32_t>(facts.width);
        image->storesAlpha = deepSamples && facts.transparency;
        if (facts.alphaRows) {
            image->alpha = static_cast<std::uint8_t*>(AllocatePlane(AlphaPlaneSize(width, rows)));
            if (image->alpha == nullptr) {
                FailOutOfMemory(width, rows);
            }
        }
        if (facts.wide) {
            image->samples = Samples::Bits16;
            image->deep = AllocatePlane(DeepPlaneSize(width, rows, Samples::Bits16));
            if (image->deep == nullptr) {
                FailOutOfMemory(width, rows);
            }
        }
    }
    ~Band() {
        image->height = fullRows;
        DestroyImage(image);
    }
    Band(const Band&) = delete;
    Band& operator=(const Band&) = delete;

    // The last band may be shorter: the bytes past its payload become the
    // zero tail the kernels rely on.
    void SetRows(std::int32_t rows) {
        image->height = rows;
        const std::size_t payload = ImagePayloadSize(image->width, rows);
        std::memset(image->pixels + payload, 0, ImageBufferSize(image->width, rows) - payload);
    }

    RowsOut Out() const {
        const auto width = static_cast<std::size_t>(image->width);
        RowsOut out;
        out.pixels = image->pixels;
        out.pixelStride = width * 3;
        out.alpha = image->alpha;
        out.alphaStride = width;
        out.wide = static_cast<std::uint16_t*>(image->deep);
        out.wideStride = width * 4;
        return out;
    }

    Image* image;

private:
    std::int32_t fullRows;
};

// The phases' times summed over the bands, put in the record however the
// run ends, as the phase timers would.
class PhaseTotals {
public:
    explicit PhaseTotals(RunRecord& runRecord) : record(runRecord) {}
    ~PhaseTotals() {
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

// What the bands so far add up to.
struct Totals {
    DiffStats stats;
    std::uint64_t compared = 0;
    bool differs = false;
};

// Adds the stats of a band whose first row is `top`.
void AddBand(DiffStats& total, const DiffStats& band, std::int32_t top) {
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

void CompareBand(const Comparison& comparison, const Image* a, const Image* b, std::int32_t top, Totals& totals) {
    if (comparison.scope.Active()) {
        const ScopedDifference scoped = MeasureInScope(a, b, ScopeOfBand(comparison.scope, top));
        totals.compared += scoped.compared;
        totals.differs = totals.differs || scoped.differs;
        AddBand(totals.stats, scoped.stats, top);
        return;
    }
    if (ImagesDiffer(a, b)) {
        totals.differs = true;
        if (comparison.measure) {
            AddBand(totals.stats, MeasureDifference(a, b), top);
        }
    }
}

// Only the answer is asked for, and a counted difference decides it.
bool AnswerAlone(const Comparison& comparison) {
    const Scope& scope = comparison.scope;
    return !comparison.measure && comparison.diffPath == nullptr && comparison.reportPictures[kPictureA] == nullptr &&
           scope.maxDiffering == 0 && !scope.maxAsShare;
}

bool Decided(const Comparison& comparison, const Totals& totals) {
    return comparison.scope.Active() ? totals.stats.differingPixels > 0 : totals.differs;
}

// Why the streams could not be compared (the run of whole pictures takes
// over), or null once every band is compared or the answer is known.
const char* CompareBands(const Comparison& comparison, PngRowReader& readerA, PngRowReader& readerB,
                         RunRecord& record, Totals& totals) {
    PhaseTotals phases(record);
    const PngFacts& facts = readerA.Facts();
    const bool deepSamples = !comparison.ignoreAlpha;
    const auto height = static_cast<std::int32_t>(facts.height);
    const auto bandRows = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kBandBytes / (std::size_t{facts.width} * 3), 1, facts.height));
    Band bandA(facts, deepSamples, bandRows);
    Band bandB(readerB.Facts(), deepSamples, bandRows);
    const bool answerAlone = AnswerAlone(comparison);
    for (std::int32_t top = 0; top < height; top += bandRows) {
        const std::int32_t rows = std::min(bandRows, height - top);
        bandA.SetRows(rows);
        bandB.SetRows(rows);
        phases.Enter(Phase::Load, RunStep::LoadingA);
        if (const char* reason = readerA.ReadRows(static_cast<std::uint32_t>(rows), bandA.Out())) {
            return reason;
        }
        phases.Enter(Phase::Load, RunStep::LoadingB);
        if (const char* reason = readerB.ReadRows(static_cast<std::uint32_t>(rows), bandB.Out())) {
            return reason;
        }
        phases.Enter(Phase::Diff, RunStep::Comparing);
        CompareBand(comparison, bandA.image, bandB.image, top, totals);
        if (answerAlone && Decided(comparison, totals)) {
            return nullptr;
        }
    }
    phases.Enter(Phase::Load, RunStep::LoadingA);
    if (const char* reason = readerA.Finish()) {
        return reason;
    }
    phases.Enter(Phase::Load, RunStep::LoadingB);
    if (const char* reason = readerB.Finish()) {
        return reason;
    }
    phases.Enter(Phase::Diff, RunStep::Comparing);
    return nullptr;
}

// Both files back at their start, the record as it was.
bool GiveUp(std::FILE* fileA, std::FILE* fileB, RunRecord& record) {
    const RunRecord fresh;
    std::copy(std::begin(fresh.phases), std::end(fresh.phases), std::begin(record.phases));
    record.step = RunStep::LoadingA;
    record.decided = false;
    std::rewind(fileA);
    std::rewind(fileB);
    return false;
}

}  // namespace

bool CompareStreams(const Comparison& comparison, RunOutputs& outputs, RunHost& host, RunRecord& record,
                    std::FILE* fileA, std::FILE* fileB) {
    (void)host;
    if (fileA == nullptr || fileB == nullptr || outputs.difference != nullptr ||
        comparison.reportPictures[kPictureA] != nullptr) {
        return false;
    }
    const bool deepSamples = !comparison.ignoreAlpha;
    PngRowReader readerA(fileA, comparison.maxPixels, deepSamples);
    PngRowReader readerB(fileB, comparison.maxPixels, deepSamples);
    // Sizes or precisions that differ are for the run of whole pictures to
    // tell, after it has read both files as it always does.
    if (readerA.Start() != nullptr || readerB.Start() != nullptr) {
        return GiveUp(fileA, fileB, record);
    }
    const PngFacts& a = readerA.Facts();
    const PngFacts& b = readerB.Facts();
    if (a.width != b.width || a.height != b.height || a.wide != b.wide) {
        return GiveUp(fileA, fileB, record);
    }
    Totals totals;
    if (CompareBands(comparison, readerA, readerB, record, totals) != nullptr) {
        return GiveUp(fileA, fileB, record);
    }
    record.identical = !totals.differs;
    record.similar = !record.identical && comparison.scope.Active() &&
                     totals.stats.differingPixels <= comparison.scope.Allowed(totals.compared);
    if (comparison.measure) {
        const Samples samples = a.wide ? Samples::Bits16 : Samples::Bits8;
        const bool alpha = deepSamples && (a.transparency || b.transparency);
        record.facts = PairFacts{static_cast<std::int32_t>(a.width), static_cast<std::int32_t>(a.height),
                                 totals.stats, samples, alpha};
        record.measured = true;
    }
    record.decided = true;
    return true;
}
