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
};

// Limits on the process that does the work, where the system has workers.
struct RunLimits {
    unsigned timeoutSeconds = 0;     // 0: none
    std::uint64_t maxMemoryBytes = 0;  // 0: none
};

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
};

// Loads both pictures, compares them and writes the difference picture
// into `output` (made beside diffPath; null without one) when they differ.
// True only when the pictures are identical; any failure has printed its
// message and answers false. Every message and timer line of the run is
// printed here.
bool RunComparison(const Comparison& comparison, AtomicFile* output, RunHost& host);

// The comparison run of the command line: in a supervised, sandboxed
// worker where the system has them, in this process elsewhere.
bool CompareImages(const Comparison& comparison, const RunLimits& limits);
