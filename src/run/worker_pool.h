// The parent side of the workers: runs pairs, up to `parallel` at a time,
// each in a worker of its own where the system has workers (in this
// process otherwise), puts each finished difference picture in place, and
// when a worker dies or runs out of time completes its record with where
// it was.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "run/compare_images.h"

// A pair to compare, and what came of it.
struct PairRun {
    Comparison comparison;
    // Not to be compared at all (one of the files is missing, say): the
    // caller reports it as it is.
    bool skip = false;
    // Whether the pair may need the picture library (true when unknown).
    bool needsLibrary = true;

    RunRecord record;
    double milliseconds = 0;
};

// Up to `parallel` places for pairs and their workers, kept from one call
// to the next: with `keepServing` (a server taking pairs as they come)
// serving workers start for any pair and wait for more until the crew
// goes. The limits a call passes must outlive the crew.
class PairCrew {
public:
    PairCrew(unsigned parallel, bool keepServing);
    ~PairCrew();
    PairCrew(const PairCrew&) = delete;
    PairCrew& operator=(const PairCrew&) = delete;

    struct Members;
    std::unique_ptr<Members> members;
    bool serving;
};
// Compares every pair not skipped with the crew's workers, with a
// difference picture made beside its diffPath. Calls `finished` with each
// pair's index in their order, as soon as it and all before it are done.
void RunPairs(std::vector<PairRun>& pairs, PairCrew& crew, const RunLimits& limits,
              const std::function<void(std::size_t)>& finished);
