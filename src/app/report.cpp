#include "app/report.h"

#include "run/run_messages.h"

void StatusCounts::Add(const BatchPair& pair) {
    ++pairs;
    switch (pair.status) {
    case PairStatus::Identical: ++identical; break;
    case PairStatus::Different: ++different; break;
    case PairStatus::Failed: ++failed; break;
    case PairStatus::Missing: ++(pair.missingA ? onlyInB : onlyInA); break;
    }
}

const char* StatusName(PairStatus status) {
    switch (status) {
    case PairStatus::Identical: return "identical";
    case PairStatus::Different: return "different";
    case PairStatus::Missing: return "missing";
    default: return "failed";
    }
}

std::string FailureText(const BatchPair& pair, const PairRun& run) {
    return pair.compare ? FailureLine(run.record, run.comparison) : pair.problem;
}

std::uint64_t PixelCount(const PairFacts& facts) {
    return static_cast<std::uint64_t>(facts.width) * static_cast<std::uint64_t>(facts.height);
}
