#pragma once

#include <cstdint>

#include "diff/diff_image.h"
#include "image/atomic_file.h"

// One comparison as the command line asks for it.
struct Comparison {
    const char* pathA = nullptr;
    const char* pathB = nullptr;
    const char* diffPath = nullptr;  // null: no difference picture
    DiffMode mode = DiffMode::AbsDelta;
    std::uint64_t maxPixels = 0;     // 0: no limit
    bool measure = false;            // tell the host the PairFacts
};

// What a report says of a compared pair: its size, and for differing
// pictures where and how much.
struct PairFacts {
    std::int32_t width = 0;
    std::int32_t height = 0;
    DiffStats stats;
};

// Limits on the process that does the work, where the system has workers.
struct RunLimits {
    unsigned timeoutSeconds = 0;     // 0: none
    std::uint64_t maxMemoryBytes = 0;  // 0: none
};

// How a pair came out. Missing: one of its files is not there at all.
enum class PairStatus { Identical, Different, Failed, Missing };

// Where a run is, for whoever watches it from outside.
enum class RunStep : int { LoadingA, LoadingB, Comparing, Saving, Finished };

// What a comparison run needs from whoever started it: the supervising
// parent of a worker, or nothing much when it runs in this process.
class RunHost {
public:
    virtual ~RunHost() = default;
    // The run has reached `step`, in the phase whose timer started at
    // `phaseStartTicks`.
    virtual void Reached(RunStep step, std::uint64_t phaseStartTicks) = 0;
    // Every file the run reads is open, and `libraryNeeded` tells whether
    // the picture library will surely be needed: from here on the run
    // opens nothing.
    virtual void InputsOpen(bool libraryNeeded) = 0;
    // The difference picture is written and closed in `output`: put it in
    // its place. False when that failed.
    virtual bool PlaceOutput(AtomicFile& output) = 0;
    // Both pictures were compared (only when the comparison asks to
    // measure).
    virtual void Measured(const PairFacts& facts) = 0;
};

// Loads both pictures, compares them and writes the difference picture
// into `output` (made beside diffPath; null without one) when they differ.
// Identical, Different, or Failed once the failure has printed its
// message. Every message and timer line of the run is printed here.
PairStatus CompareImages(const Comparison& comparison, AtomicFile* output, RunHost& host);
