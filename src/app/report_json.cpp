#include <cstdio>

#include "app/report.h"
#include "common/log.h"

namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += FormatMessage("\\u%04x", byte);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A share of the picture that is never printed as 0 when it is not.
std::string Share(std::uint64_t part, std::uint64_t whole) {
    return FormatMessage("%.6g", whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole));
}

std::string FactsFields(const PairFacts& facts) {
    const DiffStats& s = facts.stats;
    std::string json = FormatMessage(",\"width\":%d,\"height\":%d,\"differingPixels\":%llu,\"share\":",
                                     facts.width, facts.height,
                                     static_cast<unsigned long long>(s.differingPixels)) +
                       Share(s.differingPixels, PixelCount(facts));
    if (s.differingPixels > 0) {
        json += FormatMessage(",\"box\":{\"x\":%d,\"y\":%d,\"width\":%d,\"height\":%d}", s.left,
                              s.top, s.right - s.left + 1, s.bottom - s.top + 1);
    }
    return json + FormatMessage(",\"largestDelta\":%d,\"samples\":\"%s\",\"alpha\":%s", s.largestDelta,
                                SamplesName(facts.samples), facts.alpha ? "true" : "false");
}

std::string JsonLine(const BatchPair& pair, const PairRun& run) {
    std::string json = "{\"schema\":1,\"name\":" + JsonString(pair.name) + ",\"a\":" +
                       JsonString(pair.pathA) + ",\"b\":" + JsonString(pair.pathB) + ",\"diff\":" +
                       (pair.diffPath.empty() ? "null" : JsonString(pair.diffPath)) +
                       ",\"status\":\"" + StatusName(pair.status) + "\"";
    if (pair.status == PairStatus::Missing) {
        json += std::string(",\"missing\":\"") + (pair.missingA ? "a" : "b") + "\"";
    }
    if (pair.status == PairStatus::Failed) {
        json += ",\"message\":" + JsonString(FailureText(pair, run));
    }
    if (pair.compare && run.record.measured) {
        json += FactsFields(run.record.facts);
    }
    if (pair.compare) {
        json += FormatMessage(",\"milliseconds\":%.1f", run.milliseconds);
    }
    return json + "}";
}

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
