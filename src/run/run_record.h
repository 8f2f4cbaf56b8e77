// What one pair's run tells, as plain data: where it is or ended, how it
// came out, what failed, the facts the reports need and the phase times.
// A worker writes it in memory it shares with its parent; the parent words
// every message from it (run_messages.h). No one reads printed text back.
#pragma once

#include <cstdint>

#include "common/log.h"
#include "diff/diff_image.h"

// How a pair came out. Missing: one of its files is not there at all.
// Similar: the pixels differ, but only as far as --ignore, --tolerance and
// --max-differing allow; the pair passes.
enum class PairStatus { Identical, Different, Failed, Missing, Similar };

// Where a run is.
enum class RunStep : std::uint8_t { LoadingA, LoadingB, Comparing, Saving, Reporting };

// The timed phases of a run, in their order.
enum class Phase : std::uint8_t { Load, Diff, Save };
constexpr int kPhaseCount = 3;

struct PhaseTime {
    bool started = false;
    bool ended = false;
    float milliseconds = 0;  // once ended
};

// What a report says of a compared pair: its size, and for differing
// pictures where and how much.
struct PairFacts {
    std::int32_t width = 0;
    std::int32_t height = 0;
    DiffStats stats;
    // The precision the pictures were compared at, and whether their
    // alphas took part.
    Samples samples = Samples::Bits8;
    bool alpha = false;
};

// Plain fields, no pointers: it is copied across processes as bytes. The
// worker writes it while the parent waits; the parent writes it only
// while the worker waits for its answer, and reads it once the worker has
// ended.
struct RunRecord {
    RunStep step = RunStep::LoadingA;
    // When the phase the run is in began (counter ticks).
    std::uint64_t phaseStartTicks = 0;
    PhaseTime phases[kPhaseCount];
    // The comparison came to its decision: `identical` holds.
    bool decided = false;
    bool identical = false;
    // Not identical, but within what the comparison's scope allows.
    bool similar = false;
    // Failure::None unless the run failed; `failedAt` is where.
    FatalError failure;
    RunStep failedAt = RunStep::LoadingA;
    // The difference picture is in its place.
    bool outputPlaced = false;
    // The report picture being written (while Reporting), and those in
    // their place (a bit per ReportPicture).
    std::uint8_t reportPicture = 0;
    std::uint8_t reportPicturesPlaced = 0;
    // The run reached its end (not cut short).
    bool answered = false;
    bool measured = false;
    PairFacts facts;
    // Both pictures' sizes (width, height), where a run read both.
    std::int32_t sizes[2][2] = {};

    PhaseTime& Time(Phase phase) { return phases[static_cast<int>(phase)]; }
    const PhaseTime& Time(Phase phase) const { return phases[static_cast<int>(phase)]; }
};

PairStatus StatusOf(const RunRecord& record);
