// The comparison run in a worker process: a copy of this process made
// after the command line was read, which opens its files, shuts itself in
// a sandbox and only then lets any decoder see a byte, under a limit on
// its address space. This process waits, puts the finished difference
// picture in place, and, when the worker dies or runs out of time, says
// what failed where, as the run itself would have.
#pragma once

#include "app/compare_images.h"

// Runs `comparison` in a worker and prints what the run prints. False
// when the system has no workers (nothing has happened then); otherwise
// `identical` holds the answer.
bool RunInWorker(const Comparison& comparison, const RunLimits& limits, AtomicFile* output,
                 bool& identical);
