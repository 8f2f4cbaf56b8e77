#include "app/report.h"

#include "common/log.h"
#include "image/atomic_file.h"
#include "run/run_messages.h"

void StatusCounts::Add(const BatchPair& pair) {
    ++pairs;
    updated += pair.updated ? 1 : 0;
    switch (pair.status) {
    case PairStatus::Identical: ++identical; break;
    case PairStatus::Similar: ++similar; break;
    case PairStatus::Different: ++different; break;
    case PairStatus::Failed: ++failed; break;
    case PairStatus::Missing: ++(pair.missingA ? onlyInB : onlyInA); break;
    }
}

const char* StatusName(PairStatus status) {
    switch (status) {
    case PairStatus::Identical: return "identical";
    case PairStatus::Similar: return "similar";
    case PairStatus::Different: return "different";
    case PairStatus::Missing: return "missing";
    default: return "failed";
    }
}

std::string FailureText(const BatchPair& pair, const PairRun& run) {
    return pair.problem.empty() ? FailureLine(run.record, run.comparison) : pair.problem;
}

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

std::uint64_t PixelCount(const PairFacts& facts) {
    return static_cast<std::uint64_t>(facts.width) * static_cast<std::uint64_t>(facts.height);
}

namespace {

// A share of the picture that is never printed as 0 when it is not.
std::string Share(std::uint64_t part, std::uint64_t whole) {
    return FormatMessage("%.6g", whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole));
}

}  // namespace

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

std::string OutcomeFields(const BatchPair& pair, const PairRun& run) {
    std::string json = std::string(",\"status\":\"") + StatusName(pair.status) + "\"";
    if (pair.status == PairStatus::Missing) {
        json += std::string(",\"missing\":\"") + (pair.missingA ? "a" : "b") + "\"";
    }
    if (pair.status == PairStatus::Failed) {
        json += ",\"message\":" + JsonString(FailureText(pair, run));
    }
    if (pair.sizesDiffer) {
        json += FormatMessage(",\"reason\":\"size\",\"sizeA\":[%d,%d],\"sizeB\":[%d,%d]", pair.sizes[0][0],
                              pair.sizes[0][1], pair.sizes[1][0], pair.sizes[1][1]);
    }
    if (pair.updated) {
        json += ",\"updated\":true";
    }
    if (pair.compare && run.record.measured) {
        json += FactsFields(run.record.facts);
        if (run.comparison.scope.antialiasing) {
            json += FormatMessage(",\"antialiasedPixels\":%llu",
                                  static_cast<unsigned long long>(run.record.facts.stats.antialiasedPixels));
        }
    }
    return json;
}

bool SaveReportFile(const std::string& path, const std::string& text, std::FILE* complaints) {
    AtomicFile file(path.c_str());
    const bool written = file.Stream() != nullptr &&
                         std::fwrite(text.data(), 1, text.size(), file.Stream()) == text.size() && file.Commit();
    if (!written) {
        std::fprintf(complaints, "Failed to save %s\n", path.c_str());
    }
    return written;
}
