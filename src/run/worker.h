// The child side of a worker: a copy of this process made after the
// command line was read, which opens its files, shuts itself in a sandbox
// and only then lets any decoder see a byte, under a limit on its address
// space. It prints nothing; its run's record is its answer.
#pragma once

#include <vector>

#include "run/compare_images.h"

struct WorkerJob {
    const Comparison* comparison;
    const RunLimits* limits;
    RunOutputs* outputs;
    RunRecord* record;  // in memory shared with the parent
    bool preloadLibrary;
};

// The body of a worker (`context` is its WorkerJob); its exit status.
int WorkerMain(int control, void* context);

// A serving worker: the same fence, entered once, then pair after pair
// sent by its parent with their files, until the parent is gone. It reads
// only with our own readers: a pair that needs the picture library ends
// it (kExitNeedsLibrary), and such pairs go to a worker of their own, so
// that no library decoder leaves state behind for a later pair. The
// buffers it reuses are written before they are read.
struct WireComparison;
struct ServeJob {
    const RunLimits* limits;
    RunRecord* record;             // in memory shared with the parent
    const WireComparison* wire;    // so is each pair's comparison
};

// The body of a serving worker (`context` is its ServeJob).
int ServeMain(int control, void* context);
