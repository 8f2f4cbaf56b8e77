// The child side of a worker: a copy of this process made after the
// command line was read, which opens its files, shuts itself in a sandbox
// and only then lets any decoder see a byte, under a limit on its address
// space. It prints nothing; its run's record is its answer.
#pragma once

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
