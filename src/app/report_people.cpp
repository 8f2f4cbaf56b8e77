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
    void Pair(const BatchPair& pair, const PairRun& run) override {
        PrintRunMessages(run.record, run.comparison, g_verbose);
        if (pair.updated) {
            std::printf("updated: %s\n", pair.name.c_str());
        } else if (!pair.problem.empty()) {
            std::printf("%s\n", pair.problem.c_str());
        }
    }
    bool Finish(const StatusCounts&) override { return true; }
};

class PeopleReport : public Report {
public:
    explicit PeopleReport(const PeopleOptions& peopleOptions) : options(peopleOptions) {}
    bool NeedsFacts() const override { return true; }
    void Pair(const BatchPair& pair, const PairRun& run) override {
        if (options.verbose || pair.status != PairStatus::Identical) {
            std::printf("%s\n", PeopleLine(pair, run, options.verbose).c_str());
        }
        if (pair.compare && run.record.measured) {
            antialiased += run.record.facts.stats.antialiasedPixels;
        }
    }
    bool Finish(const StatusCounts& counts) override {
        const std::string similar = options.similarApart ? FormatMessage(" %zu similar,", counts.similar) : "";
        const std::string updated = options.update ? FormatMessage(", %zu updated", counts.updated) : "";
        const std::string left = options.antialiasing ? "; " + Antialiased(antialiased) : "";
        std::printf("%zu pairs: %zu identical,%s %zu different, %zu failed, %zu only in A, %zu only in B%s%s\n",
                    counts.pairs, counts.identical, similar.c_str(), counts.different, counts.failed,
                    counts.onlyInA, counts.onlyInB, updated.c_str(), left.c_str());
        return true;
    }

private:
    PeopleOptions options;
    std::uint64_t antialiased = 0;
};

// Two sizes, "1280x720 against 1280x800".
std::string Sizes(const BatchPair& pair) {
    return FormatMessage("%dx%d against %dx%d", pair.sizes[0][0], pair.sizes[0][1], pair.sizes[1][0],
                         pair.sizes[1][1]);
}

// The line without its time.
std::string Outcome(const BatchPair& pair, const PairRun& run) {
    const std::string extent =
        run.record.measured ? ": " + Extent(run.record.facts, run.comparison.scope.antialiasing) : "";
    if (pair.updated) {
        return "updated: " + pair.name;
    }
    switch (pair.status) {
    case PairStatus::Identical: return "identical: " + pair.name;
    case PairStatus::Different: return "different: " + pair.name + (pair.sizesDiffer ? ": size " + Sizes(pair) : extent);
    case PairStatus::Similar: return "similar: " + pair.name + extent;
    case PairStatus::Missing: return (pair.missingA ? "only in B: " : "only in A: ") + pair.name;
    default: return "failed: " + pair.name + ": " + FailureText(pair, run);
    }
}

}  // namespace

std::string PeopleLine(const BatchPair& pair, const PairRun& run, bool withTime) {
    std::string line = Outcome(pair, run);
    if (withTime && pair.compare) {
        line += FormatMessage(" (%.1f ms)", run.milliseconds);
    }
    return line;
}

std::unique_ptr<Report> MakeSinglePairReport() { return std::make_unique<SinglePairReport>(); }

std::unique_ptr<Report> MakePeopleReport(const PeopleOptions& options) {
    return std::make_unique<PeopleReport>(options);
}
