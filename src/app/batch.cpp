#include "app/batch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "run/worker_pool.h"

namespace fs = std::filesystem;

int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits,
             unsigned jobs, const std::vector<std::unique_ptr<Report>>& reports) {
    const bool measure = std::any_of(reports.begin(), reports.end(),
                                     [](const auto& report) { return report->NeedsFacts(); });
    std::vector<PairRun> runs(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const BatchPair& pair = pairs[i];
        PairRun& run = runs[i];
        run.comparison = base;
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
    RunPairs(runs, jobs, limits, [&](std::size_t i) {
        BatchPair& pair = pairs[i];
        if (pair.compare) {
            pair.status = StatusOf(runs[i].record);
        }
        counts.Add(pair);
        for (const auto& report : reports) {
            report->Pair(pair, runs[i]);
        }
        std::fflush(stdout);
        for (const auto& report : reports) {
            report->AfterPair();
        }
    });

    bool ok = counts.identical + counts.similar == counts.pairs;
    for (const auto& report : reports) {
        ok = report->Finish(counts) && ok;
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
