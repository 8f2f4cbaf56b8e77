#include <cstdio>

#include "app/report.h"
#include "common/log.h"

std::string JsonLine(const BatchPair& pair, const PairRun& run) {
    std::string json = "{\"schema\":1,\"name\":" + JsonString(pair.name) + ",\"a\":" +
                       JsonString(pair.pathA) + ",\"b\":" + JsonString(pair.pathB) + ",\"diff\":" +
                       (pair.diffPath.empty() ? "null" : JsonString(pair.diffPath)) + OutcomeFields(pair, run);
    if (pair.compare) {
        json += FormatMessage(",\"milliseconds\":%.1f", run.milliseconds);
    }
    return json + "}";
}

namespace {

// One JSON object a line, and nothing else on standard output.
class JsonReport : public Report {
public:
    bool NeedsFacts() const override { return true; }
    void Pair(const BatchPair& pair, const PairRun& run) override {
        std::printf("%s\n", JsonLine(pair, run).c_str());
    }
    bool Finish(const StatusCounts&) override { return true; }
};

}  // namespace

std::unique_ptr<Report> MakeJsonReport() { return std::make_unique<JsonReport>(); }
