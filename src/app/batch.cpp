#include "app/batch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/update.h"
#include "run/worker_pool.h"

namespace fs = std::filesystem;

namespace {

// How the pair came out, from its run; pictures whose sizes differ are a
// difference for the reports (a single pair's messages still say why
// they could not be compared). With `update`, B is then accepted.
void Settle(BatchPair& pair, const RunRecord& record, bool update) {
    if (pair.compare) {
        pair.status = StatusOf(record);
        if (record.failure.failure == Failure::DimensionsDiffer) {
            pair.status = PairStatus::Different;
            pair.sizesDiffer = true;
            std::copy(&record.sizes[0][0], &record.sizes[0][0] + 4, &pair.sizes[0][0]);
        }
    }
    if (update && WantsUpdate(pair)) {
        std::string problem;
        pair.updated = AcceptB(pair, problem);
        if (!pair.updated) {
            pair.status = PairStatus::Failed;
            pair.problem = problem;
        }
    }
}

// Under --update a pair whose A is not there yet (a new reference, as a
// single pair or a list gives it) is a picture only in B.
void NewReference(BatchPair& pair) {
    std::error_code error;
    if (pair.compare && !fs::exists(pair.pathA, error) && fs::is_regular_file(pair.pathB, error)) {
        pair.compare = false;
        pair.status = PairStatus::Missing;
        pair.missingA = true;
    }
}

}  // namespace

int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits,
             unsigned jobs, bool update, const std::vector<std::unique_ptr<Report>>& reports) {
    PairCrew crew(static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(1, pairs.size()))), false);
    return RunBatch(pairs, base, limits, crew, update, reports);
}

int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits, PairCrew& crew,
             bool update, const std::vector<std::unique_ptr<Report>>& reports) {
    const bool measure = std::any_of(reports.begin(), reports.end(),
                                     [](const auto& report) { return report->NeedsFacts(); });
    std::vector<PairRun> runs(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (update) {
            NewReference(pairs[i]);
        }
        const BatchPair& pair = pairs[i];
        PairRun& run = runs[i];
        run.comparison = pair.options != nullptr ? *pair.options : base;
        run.comparison.pathA = pair.pathA.c_str();
        run.comparison.pathB = pair.pathB.c_str();
        run.comparison.diffPath = pair.diffPath.empty() ? nullptr : pair.diffPath.c_str();
        run.comparison.measure = measure;
        run.comparison.scope.ignored.insert(run.comparison.scope.ignored.end(), pair.ignored.begin(),
                                            pair.ignored.end());
        run.skip = !pair.compare;
        for (unsigned which = 0; which < kReportPictures && !pair.reportPictures[which].empty(); ++which) {
            run.comparison.reportPictures[which] = pair.reportPictures[which].c_str();
        }
        run.needsLibrary = pair.needsLibrary;
        if (pair.compare && pair.makeDiffFolder) {
            std::error_code error;
            fs::create_directories(fs::path(pair.diffPath).parent_path(), error);
        }
    }

    StatusCounts counts;
    RunPairs(runs, crew, limits, [&](std::size_t i) {
        BatchPair& pair = pairs[i];
        Settle(pair, runs[i].record, update);
        counts.Add(pair);
        for (const auto& report : reports) {
            report->Pair(pair, runs[i]);
        }
        std::fflush(stdout);
        for (const auto& report : reports) {
            report->AfterPair();
        }
    });

    bool ok = counts.identical + counts.similar + counts.updated == counts.pairs;
    for (const auto& report : reports) {
        ok = report->Finish(counts) && ok;
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
