#include "app/serve.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/batch.h"
#include "app/command_line.h"
#include "app/report.h"
#include "platform/platform.h"

namespace {

using Json = nlohmann::json;

// A request line may be this long; a longer one is refused whole.
constexpr std::size_t kLongestRequest = std::size_t{1} << 20;
// Requests read ahead of the answers, at most: a client that pipelines
// gets its answers while it still writes.
constexpr std::size_t kRequestsAtOnce = 64;

// Standard input as lines, read with the system's calls so that what is
// buffered here is known: the next line is ready when it is buffered or
// the descriptor has more to read.
class LineReader {
public:
    // The next line (false at the end of input); `tooLong` when it was
    // longer than kLongestRequest and only its end was read.
    bool Next(std::string& line, bool& tooLong) {
        line.clear();
        tooLong = false;
        for (;;) {
            const std::size_t end = buffer.find('\n', scanned);
            if (end != std::string::npos) {
                TakeLine(line, end, tooLong);
                return true;
            }
            scanned = buffer.size();
            if (buffer.size() > kLongestRequest) {
                buffer.clear();
                scanned = 0;
                skipping = true;
            }
            char chunk[64 * 1024];
            const long got = ReadSome(0, chunk, sizeof chunk);
            if (got <= 0) {
                // A last line without its end still counts.
                if (buffer.empty() && !skipping) {
                    return false;
                }
                TakeLine(line, buffer.size(), tooLong);
                return true;
            }
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }

    bool Ready() const {
        if (buffer.find('\n', scanned) != std::string::npos) {
            return true;
        }
        const int input = 0;
        bool ready = false;
        return WaitForInput(&input, &ready, 1, 0) && ready;
    }

private:
    void TakeLine(std::string& line, std::size_t end, bool& tooLong) {
        tooLong = skipping || end > kLongestRequest;
        if (!tooLong) {
            line.assign(buffer, 0, end);
        }
        buffer.erase(0, std::min(buffer.size(), end + 1));
        scanned = 0;
        skipping = false;
    }

    std::string buffer;
    std::size_t scanned = 0;
    bool skipping = false;  // within a line already too long
};

// One request: its id (as JSON text), and either the pair with its own
// options or why it is refused.
struct Request {
    std::string id = "null";
    BatchPair pair;
    std::unique_ptr<Comparison> options;
    unsigned timeoutSeconds = 0;
    std::string refusal;
};

// A whole number from 0 to `most`, or false.
bool WholeNumber(const Json& value, std::uint64_t most, std::uint64_t& number) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > most) {
        return false;
    }
    number = value.get<std::uint64_t>();
    return true;
}

// --max-differing's value: a number of pixels or "P%".
bool MaxDiffering(const Json& value, Scope& scope) {
    std::uint64_t pixels = 0;
    if (WholeNumber(value, UINT64_MAX, pixels)) {
        scope.maxDiffering = pixels;
        scope.maxAsShare = false;
        return true;
    }
    scope.maxDiffering = 0;
    scope.maxAsShare = true;
    return value.is_string() && ParsePercent(value.get<std::string>().c_str(), scope.maxPercent);
}

bool Regions(const Json& value, Scope& scope) {
    if (!value.is_array()) {
        return false;
    }
    scope.ignored.clear();
    for (const Json& text : value) {
        Region region;
        if (!text.is_string() || !ParseRegion(text.get<std::string>(), region)) {
            return false;
        }
        scope.ignored.push_back(region);
    }
    return true;
}

// Applies option `name`; false when its value is not one it takes.
bool ApplyOption(const std::string& name, const Json& value, Comparison& options, unsigned& timeout) {
    Scope& scope = options.scope;
    std::uint64_t number = 0;
    if (name == "threshold") {
        scope.yiq = value.is_number() && value.get<double>() >= 0 && value.get<double>() <= 1;
        scope.threshold = scope.yiq ? value.get<double>() : 0;
        return scope.yiq;
    }
    if (name == "tolerance") {
        const bool fits = WholeNumber(value, 255, number);
        scope.tolerance = static_cast<int>(number);
        return fits;
    }
    if (name == "timeout") {
        const bool fits = WholeNumber(value, 100000000, number);
        timeout = static_cast<unsigned>(number);
        return fits;
    }
    if (name == "maxPixels") {
        const bool fits = WholeNumber(value, UINT64_MAX, number);
        options.maxPixels = number;
        return fits;
    }
    if (name == "ignore") {
        return Regions(value, scope);
    }
    if (name == "maxDiffering") {
        return MaxDiffering(value, scope);
    }
    if (!value.is_boolean()) {
        return false;
    }
    const bool on = value.get<bool>();
    if (name == "antialiasing") {
        scope.antialiasing = on;
    } else if (name == "ignoreAlpha") {
        options.ignoreAlpha = on;
    } else if (name == "highlight" || name == "xor") {
        const DiffMode mode = name == "highlight" ? DiffMode::Highlight : DiffMode::Xor;
        options.mode = on ? mode : options.mode == mode ? DiffMode::AbsDelta : options.mode;
    }
    return true;
}

const char* const kOptionNames[] = {"threshold", "antialiasing", "tolerance", "ignore", "maxDiffering",
                                    "ignoreAlpha", "highlight", "xor", "timeout", "maxPixels"};

// The request's options over the command line's; false with `refusal` set.
bool ReadOptions(const Json& request, Request& out) {
    if (!request.contains("options")) {
        return true;
    }
    const Json& options = request["options"];
    if (!options.is_object()) {
        out.refusal = "\"options\" is not an object";
        return false;
    }
    for (const auto& [name, value] : options.items()) {
        if (std::find(std::begin(kOptionNames), std::end(kOptionNames), name) == std::end(kOptionNames)) {
            out.refusal = "Unknown option " + name;
            return false;
        }
        if (!ApplyOption(name, value, *out.options, out.timeoutSeconds)) {
            out.refusal = "Invalid value of " + name + ": " + value.dump();
            return false;
        }
    }
    return true;
}

Request ParseRequest(const std::string& line, bool tooLong, const Comparison& defaults, unsigned timeout) {
    Request out;
    out.options = std::make_unique<Comparison>(defaults);
    out.timeoutSeconds = timeout;
    const Json request = tooLong ? Json() : Json::parse(line, nullptr, false);
    if (tooLong || !request.is_object()) {
        out.refusal = tooLong ? "Request over 1 MiB" : "Request is not a JSON object";
        return out;
    }
    if (request.contains("id")) {
        out.id = request["id"].dump();
    }
    const auto path = [&](const char* key) -> const Json* {
        return request.contains(key) && request[key].is_string() ? &request[key] : nullptr;
    };
    if (path("a") == nullptr || path("b") == nullptr) {
        out.refusal = "Request needs \"a\" and \"b\", each a path";
        return out;
    }
    const bool diffGiven = request.contains("diff") && !request["diff"].is_null();
    if (diffGiven && path("diff") == nullptr) {
        out.refusal = "\"diff\" is not a path";
        return out;
    }
    if (!ReadOptions(request, out)) {
        return out;
    }
    out.pair = SinglePair(request["a"].get<std::string>().c_str(), request["b"].get<std::string>().c_str(),
                          diffGiven ? request["diff"].get<std::string>().c_str() : nullptr);
    out.pair.options = out.options.get();
    return out;
}

// Each answer a line of its own as soon as it and those before it are
// done: the pair's line of schema 1 with the request's id, or the refusal.
class ServeReport : public Report {
public:
    explicit ServeReport(const std::vector<Request>& batchRequests) : requests(batchRequests) {}
    bool NeedsFacts() const override { return true; }
    void Pair(const BatchPair& pair, const PairRun& run) override {
        const Request& request = requests[next++];
        if (!request.refusal.empty()) {
            std::printf("{\"id\":%s,\"status\":\"failed\",\"message\":%s}\n", request.id.c_str(),
                        JsonString(request.refusal).c_str());
        } else {
            std::string line = JsonLine(pair, run);
            line.insert(std::string("{\"schema\":1,").size(), "\"id\":" + request.id + ",");
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    bool Finish(const StatusCounts&) override { return true; }

private:
    const std::vector<Request>& requests;
    std::size_t next = 0;
};

// Runs one batch: requests of one timeout, refusals among them in place.
void RunRequests(std::vector<Request>& requests, const Comparison& defaults, RunLimits& limits, PairCrew& crew) {
    std::vector<BatchPair> pairs;
    for (Request& request : requests) {
        if (!request.refusal.empty()) {
            BatchPair refused;
            refused.compare = false;
            refused.status = PairStatus::Failed;
            refused.problem = request.refusal;
            pairs.push_back(refused);
        } else {
            pairs.push_back(request.pair);
        }
    }
    limits.timeoutSeconds = requests.front().timeoutSeconds;
    std::vector<std::unique_ptr<Report>> reports;
    reports.push_back(std::make_unique<ServeReport>(requests));
    RunBatch(pairs, defaults, limits, crew, false, reports);
}

}  // namespace

int RunServer(const Comparison& defaults, RunLimits& limits, unsigned jobs) {
    PairCrew crew(jobs, true);
    const unsigned timeout = limits.timeoutSeconds;
    LineReader input;
    std::string line;
    bool tooLong = false;
    std::vector<Request> pending;
    while (input.Next(line, tooLong)) {
        pending.push_back(ParseRequest(line, tooLong, defaults, timeout));
        // Whatever else has come already goes along, up to a batch; a
        // request with another timeout starts the next batch.
        while (pending.size() < kRequestsAtOnce && input.Ready() && input.Next(line, tooLong)) {
            Request next = ParseRequest(line, tooLong, defaults, timeout);
            if (next.timeoutSeconds != pending.front().timeoutSeconds) {
                RunRequests(pending, defaults, limits, crew);
                pending.clear();
            }
            pending.push_back(std::move(next));
        }
        RunRequests(pending, defaults, limits, crew);
        pending.clear();
    }
    return 0;
}
