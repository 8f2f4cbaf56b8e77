// Many pairs in one run (or the one pair of the command line): each pair
// compared in a worker of its own, several at a time, and told to every
// report in their order.
#pragma once

#include <memory>
#include <vector>

#include "app/batch_inputs.h"
#include "app/report.h"

// Compares them all as `base` says (paths aside), `jobs` at a time; with
// `update`, B becomes the new A of every pair that differs and of every
// picture only B has. The exit status: 0 when every pair is identical,
// similar or updated and every report was written.
int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits,
             unsigned jobs, bool update, const std::vector<std::unique_ptr<Report>>& reports);
// The same with the workers of `crew`, which stay for the next call.
int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits, PairCrew& crew,
             bool update, const std::vector<std::unique_ptr<Report>>& reports);
