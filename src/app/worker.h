// Comparison runs in worker processes: each pair in a copy of this process
// made after the command line was read, which opens its files, shuts
// itself in a sandbox and only then lets any decoder see a byte, under a
// limit on its address space. This process waits, puts each finished
// difference picture in place, and, when a worker dies or runs out of
// time, says what failed where, as the run itself would have.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/compare_images.h"

// A pair to compare, and what came of it.
struct PairRun {
    Comparison comparison;
    // Not to be compared at all (one of the files is missing, say): the
    // caller has set its status and what it printed.
    bool skip = false;

    PairStatus status = PairStatus::Failed;
    // What the run printed, then what cut it short if anything did.
    std::string printed;
    bool measured = false;
    PairFacts facts;
    double milliseconds = 0;
};

// Compares every pair not skipped, up to `parallel` at a time, each in a
// worker of its own where the system has workers (in this process
// otherwise), with a difference picture made beside its diffPath. Calls
// `finished` for each pair in their order, as soon as it and all before
// it are done.
void RunPairs(std::vector<PairRun>& pairs, unsigned parallel, const RunLimits& limits,
              const std::function<void(PairRun&)>& finished);
