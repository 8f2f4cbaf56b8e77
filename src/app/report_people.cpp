#include <cstdio>

#include "app/report.h"
#include "common/log.h"
#include "run/run_messages.h"

namespace {

std::string Antialiased(std::uint64_t pixels) {
    return FormatMessage("%llu anti-aliased pixel%s left out", static_cast<unsigned long long>(pixels),
                         pixels == 1 ? "" : "s");
}

// What a report says of a differing pair, for people.
std::string Extent(const PairFacts& facts, bool antialiasing) {
    const DiffStats& s = facts.stats;
    const std::uint64_t total = PixelCount(facts);
    const std::string antialiased = antialiasing ? ", " + Antialiased(s.antialiasedPixels) : "";
    // A similar pair whose every difference was tolerated or left out.
    if (s.differingPixels == 0) {
        return "0 pixels" + antialiased;
    }
    return FormatMessage("%llu pixel%s (%s %%) in %dx%d at %d,%d, largest difference %d%s",
                         static_cast<unsigned long long>(s.differingPixels),
                         s.differingPixels == 1 ? "" : "s",
                         FormatMessage("%.4g", 100.0 * static_cast<double>(s.differingPixels) /
                                                   static_cast<double>(total))
                             .c_str(),
                         s.right - s.left + 1, s.bottom - s.top + 1, s.left, s.top, s.largestDelta,
                         antialiased.c_str());
}

class SinglePairReport : public Report {
public:
    bool NeedsFacts() const override { return false; }
    void Pair(const BatchPair&, const PairRun& run) override {
        PrintRunMessages(run.record, run.comparison, g_verbose);
    }
    bool Finish(const StatusCounts&) override { return true; }
};

class PeopleReport : public Report {
public:
    PeopleReport(bool everyPair, bool similarApart, bool antialiasing)
        : verbose(everyPair), countSimilar(similarApart), countAntialiased(antialiasing) {}
    bool NeedsFacts() const override { return true; }
    void Pair(const BatchPair& pair, const PairRun& run) override {
        if (verbose || pair.status != PairStatus::Identical) {
            std::printf("%s\n", PeopleLine(pair, run, verbose).c_str());
        }
        if (pair.compare && run.record.measured) {
            antialiased += run.record.facts.stats.antialiasedPixels;
        }
    }
    bool Finish(const StatusCounts& counts) override {
        const std::string similar = countSimilar ? FormatMessage(" %zu similar,", counts.similar) : "";
        const std::string left = countAntialiased ? "; " + Antialiased(antialiased) : "";
        std::printf("%zu pairs: %zu identical,%s %zu different, %zu failed, %zu only in A, %zu only in B%s\n",
                    counts.pairs, counts.identical, similar.c_str(), counts.different, counts.failed,
                    counts.onlyInA, counts.onlyInB, left.c_str());
        return true;
    }

private:
    bool verbose;
    bool countSimilar;
    bool countAntialiased;
    std::uint64_t antialiased = 0;
};

}  // namespace

std::string PeopleLine(const BatchPair& pair, const PairRun& run, bool withTime) {
    std::string line;
    switch (pair.status) {
    case PairStatus::Identical: line = "identical: " + pair.name; break;
    case PairStatus::Different:
    case PairStatus::Similar:
        line = StatusName(pair.status) + (": " + pair.name) +
               (run.record.measured ? ": " + Extent(run.record.facts, run.comparison.scope.antialiasing) : "");
        break;
    case PairStatus::Missing: line = (pair.missingA ? "only in B: " : "only in A: ") + pair.name; break;
    default: line = "failed: " + pair.name + ": " + FailureText(pair, run); break;
    }
    if (withTime && pair.compare) {
        line += FormatMessage(" (%.1f ms)", run.milliseconds);
    }
    return line;
}

std::unique_ptr<Report> MakeSinglePairReport() { return std::make_unique<SinglePairReport>(); }

std::unique_ptr<Report> MakePeopleReport(bool verbose, bool similarApart, bool antialiasing) {
    return std::make_unique<PeopleReport>(verbose, similarApart, antialiasing);
}
