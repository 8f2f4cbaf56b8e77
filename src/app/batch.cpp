#include "app/batch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "app/worker.h"
#include "common/log.h"
#include "image/atomic_file.h"
#include "image/freeimage_library.h"
#include "image/image_file.h"

namespace fs = std::filesystem;

namespace {

// The regular files below `dir` that are pictures, as paths relative to
// it, and whether one of our readers takes each.
std::map<std::string, bool> PicturesBelow(const fs::path& dir) {
    std::map<std::string, bool> pictures;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        bool ours = false;
        // Only regular files: opening a pipe to look at it would wait for ever.
        if (it->is_regular_file(error) && IsPictureFile(it->path().string().c_str(), ours)) {
            pictures[it->path().lexically_relative(dir).generic_string()] = ours;
        }
    }
    return pictures;
}

// The next line of `in` without its end; false at the end of the input.
bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    int c = 0;
    while ((c = std::getc(in)) != EOF && c != '\n') {
        line += static_cast<char>(c);
    }
    return c != EOF || !line.empty();
}

}  // namespace

std::vector<BatchPair> ListDirectoryPairs(const std::string& dirA, const std::string& dirB,
                                          const char* diffDir) {
    const std::map<std::string, bool> inA = PicturesBelow(dirA);
    const std::map<std::string, bool> inB = PicturesBelow(dirB);
    std::set<std::string> all;
    for (const auto* side : {&inA, &inB}) {
        for (const auto& [relative, ours] : *side) {
            all.insert(relative);
        }
    }
    std::vector<BatchPair> pairs;
    for (const std::string& relative : all) {
        BatchPair pair;
        pair.name = relative;
        pair.pathA = (fs::path(dirA) / relative).string();
        pair.pathB = (fs::path(dirB) / relative).string();
        if (diffDir != nullptr) {
            pair.diffPath = (fs::path(diffDir) / relative).string();
        }
        if (inA.count(relative) == 0 || inB.count(relative) == 0) {
            pair.preset = PairStatus::Missing;
            pair.missingA = inA.count(relative) == 0;
        } else {
            pair.needsLibrary = diffDir != nullptr || !inA.at(relative) || !inB.at(relative);
        }
        pairs.push_back(pair);
    }
    return pairs;
}

bool ReadPairList(const char* path, std::vector<BatchPair>& pairs, std::string& error) {
    // C streams, not C++ ones: linking std::cin would initialise the C++
    // standard streams at the start of every run, lists or not.
    const bool standardInput = std::strcmp(path, "-") == 0;
    std::FILE* in = standardInput ? stdin : std::fopen(path, "r");
    if (in == nullptr) {
        error = FormatMessage("Cannot read the list of pairs %s", path);
        return false;
    }
    std::string line;
    for (int number = 1; ReadLine(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> fields;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        BatchPair pair;
        pair.name = fields[0] + (fields.size() > 1 ? " " + fields[1] : "");
        if (fields.size() < 2 || fields.size() > 3 || fields[0].empty() || fields[1].empty()) {
            pair.preset = PairStatus::Failed;
            pair.problem = FormatMessage("Line %d of %s is not A<tab>B[<tab>difference picture]",
                                         number, path);
        } else {
            pair.pathA = fields[0];
            pair.pathB = fields[1];
            pair.diffPath = fields.size() == 3 ? fields[2] : "";
        }
        pairs.push_back(pair);
    }
    if (!standardInput) {
        std::fclose(in);
    }
    return true;
}

namespace {

const char* StatusName(PairStatus status) {
    switch (status) {
    case PairStatus::Identical: return "identical";
    case PairStatus::Different: return "different";
    case PairStatus::Missing: return "missing";
    default: return "failed";
    }
}

// The failure a run printed: its lines but the timer lines, joined.
std::string FailureOf(const PairRun& run) {
    std::string message;
    std::size_t start = 0;
    while (start < run.printed.size()) {
        std::size_t end = run.printed.find('\n', start);
        if (end == std::string::npos) {
            end = run.printed.size();
        }
        const std::string line = run.printed.substr(start, end - start);
        if (!line.empty() && line.find(" took ") == std::string::npos) {
            message += (message.empty() ? "" : "; ") + line;
        }
        start = end + 1;
    }
    return message;
}

// A share of the picture that is never printed as 0 when it is not.
std::string Share(std::uint64_t part, std::uint64_t whole) {
    return FormatMessage("%.6g", whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole));
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

std::string XmlText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c; break;
        }
    }
    return out;
}

std::uint64_t PixelCount(const PairFacts& facts) {
    return static_cast<std::uint64_t>(facts.width) * static_cast<std::uint64_t>(facts.height);
}

// What a report says of a differing pair, for people.
std::string Extent(const PairRun& run) {
    const DiffStats& s = run.facts.stats;
    const std::uint64_t total = PixelCount(run.facts);
    return FormatMessage("%llu pixel%s (%s %%) in %dx%d at %d,%d, largest difference %d",
                         static_cast<unsigned long long>(s.differingPixels),
                         s.differingPixels == 1 ? "" : "s",
                         FormatMessage("%.4g", 100.0 * static_cast<double>(s.differingPixels) /
                                                   static_cast<double>(total))
                             .c_str(),
                         s.right - s.left + 1, s.bottom - s.top + 1, s.left, s.top, s.largestDelta);
}

std::string HumanLine(const BatchPair& pair, const PairRun& run, bool verbose) {
    std::string line;
    switch (run.status) {
    case PairStatus::Identical: line = "identical: " + pair.name; break;
    case PairStatus::Different:
        line = "different: " + pair.name + (run.measured ? ": " + Extent(run) : "");
        break;
    case PairStatus::Missing: line = (pair.missingA ? "only in B: " : "only in A: ") + pair.name; break;
    default: line = "failed: " + pair.name + ": " + FailureOf(run); break;
    }
    if (verbose && !run.skip) {
        line += FormatMessage(" (%.1f ms)", run.milliseconds);
    }
    return line;
}

std::string JsonLine(const BatchPair& pair, const PairRun& run) {
    std::string json = "{\"schema\":1,\"name\":" + JsonString(pair.name) + ",\"a\":" +
                       JsonString(pair.pathA) + ",\"b\":" + JsonString(pair.pathB) + ",\"diff\":" +
                       (pair.diffPath.empty() ? "null" : JsonString(pair.diffPath)) +
                       ",\"status\":\"" + StatusName(run.status) + "\"";
    if (run.status == PairStatus::Missing) {
        json += std::string(",\"missing\":\"") + (pair.missingA ? "a" : "b") + "\"";
    }
    if (run.status == PairStatus::Failed) {
        json += ",\"message\":" + JsonString(FailureOf(run));
    }
    if (run.measured) {
        const DiffStats& s = run.facts.stats;
        json += FormatMessage(",\"width\":%d,\"height\":%d,\"differingPixels\":%llu,\"share\":",
                              run.facts.width, run.facts.height,
                              static_cast<unsigned long long>(s.differingPixels)) +
                Share(s.differingPixels, PixelCount(run.facts));
        if (s.differingPixels > 0) {
            json += FormatMessage(",\"box\":{\"x\":%d,\"y\":%d,\"width\":%d,\"height\":%d}", s.left,
                                  s.top, s.right - s.left + 1, s.bottom - s.top + 1);
        }
        json += FormatMessage(",\"largestDelta\":%d", s.largestDelta);
    }
    if (!run.skip) {
        json += FormatMessage(",\"milliseconds\":%.1f", run.milliseconds);
    }
    return json + "}";
}

// The JUnit report: one test case per pair, failures for differing and
// missing ones, errors for those that could not be compared.
bool WriteJunit(const char* path, const std::vector<BatchPair>& pairs,
                const std::vector<PairRun>& runs) {
    std::size_t failures = 0;
    std::size_t errors = 0;
    double seconds = 0;
    std::string cases;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const PairRun& run = runs[i];
        seconds += run.milliseconds / 1000;
        cases += "    <testcase classname=\"glimra\" name=\"" + XmlText(pairs[i].name) + "\"" +
                 FormatMessage(" time=\"%.3f\"", run.milliseconds / 1000);
        const std::string line = XmlText(HumanLine(pairs[i], run, false));
        switch (run.status) {
        case PairStatus::Identical: cases += "/>\n"; break;
        case PairStatus::Failed:
            ++errors;
            cases += ">\n      <error type=\"failed\" message=\"" + line + "\"/>\n    </testcase>\n";
            break;
        default:
            ++failures;
            cases += ">\n      <failure type=\"" + std::string(StatusName(run.status)) +
                     "\" message=\"" + line + "\"/>\n    </testcase>\n";
            break;
        }
    }
    const std::string counts = FormatMessage(" tests=\"%zu\" failures=\"%zu\" errors=\"%zu\" time=\"%.3f\"",
                                             pairs.size(), failures, errors, seconds);
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + counts +
                            ">\n  <testsuite name=\"glimra\"" + counts + ">\n" + cases +
                            "  </testsuite>\n</testsuites>\n";
    AtomicFile file(path);
    return file.Stream() != nullptr &&
           std::fwrite(xml.data(), 1, xml.size(), file.Stream()) == xml.size() && file.Commit();
}

}  // namespace

int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits,
             const ReportOptions& options) {
    // Loaded once here, every worker has the picture library without paying
    // for its start-up again; but a bigger process is slower to copy, so
    // only when some pair needs it. A single pair loads it only if it does.
    const bool libraryNeeded = std::any_of(pairs.begin(), pairs.end(), [](const BatchPair& pair) {
        return pair.preset == PairStatus::Identical && pair.needsLibrary;
    });
    if (!options.single && libraryNeeded) {
        PreloadFreeImage();
    }
    std::vector<PairRun> runs(pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        BatchPair& pair = pairs[i];
        PairRun& run = runs[i];
        run.comparison = base;
        run.comparison.pathA = pair.pathA.c_str();
        run.comparison.pathB = pair.pathB.c_str();
        run.comparison.diffPath = pair.diffPath.empty() ? nullptr : pair.diffPath.c_str();
        run.comparison.measure = !options.single || options.json || options.junitPath != nullptr;
        run.skip = pair.preset != PairStatus::Identical;
        run.status = pair.preset;
        run.printed = pair.problem.empty() ? "" : pair.problem + "\n";
        if (!pair.diffPath.empty() && !options.single) {
            std::error_code error;
            fs::create_directories(fs::path(pair.diffPath).parent_path(), error);
        }
    }

    std::size_t counts[4] = {0, 0, 0, 0};
    std::size_t onlyInA = 0;
    std::size_t onlyInB = 0;
    RunPairs(runs, options.jobs, limits, [&](PairRun& run) {
        const BatchPair& pair = pairs[static_cast<std::size_t>(&run - runs.data())];
        ++counts[static_cast<int>(run.status)];
        if (run.status == PairStatus::Missing) {
            ++(pair.missingA ? onlyInB : onlyInA);
        }
        if (options.json) {
            std::printf("%s\n", JsonLine(pair, run).c_str());
        } else if (options.single) {
            std::fwrite(run.printed.data(), 1, run.printed.size(), stdout);
        } else if (options.verbose || run.status != PairStatus::Identical) {
            std::printf("%s\n", HumanLine(pair, run, options.verbose).c_str());
        }
        std::fflush(stdout);
    });

    const std::size_t failed = counts[static_cast<int>(PairStatus::Failed)];
    if (!options.json && !options.single) {
        std::printf("%zu pairs: %zu identical, %zu different, %zu failed, %zu only in A, %zu only in B\n",
                    pairs.size(), counts[static_cast<int>(PairStatus::Identical)],
                    counts[static_cast<int>(PairStatus::Different)], failed, onlyInA, onlyInB);
    }
    bool ok = counts[static_cast<int>(PairStatus::Identical)] == pairs.size();
    if (options.junitPath != nullptr && !WriteJunit(options.junitPath, pairs, runs)) {
        // Standard output holds JSON and nothing else.
        std::fprintf(options.json ? stderr : stdout, "Failed to save %s\n", options.junitPath);
        ok = false;
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
