// One pair compared a band of rows at a time, as both files are read:
// memory bounded by a band and the readers' windows, whatever the height,
// and, when only the answer is asked for, no more read than the first
// band that differs.
#pragma once

#include <cstdio>

#include "run/compare_images.h"

// Compares the pair in `fileA` and `fileB` (open, at their start) as
// streams, when both are files our row readers take and the run asks
// for nothing that needs whole pictures. False when it cannot: the files
// are then back at their start and `record` as it was, for the run of
// whole pictures to take over. Throws FatalError as that run would. With
// `twoThreads`, B is read on a thread of its own, a band ahead.
bool CompareStreams(const Comparison& comparison, RunOutputs& outputs, RunHost& host, RunRecord& record,
                    std::FILE* fileA, std::FILE* fileB, bool twoThreads);

// A pair whose two files hold the same bytes: the same bytes decode to
// the same pixels, so A read to its end as a stream of rows decides it
// (identical, once it reads). False as CompareStreams.
bool CompareStreamWithItself(const Comparison& comparison, RunRecord& record, std::FILE* file);
