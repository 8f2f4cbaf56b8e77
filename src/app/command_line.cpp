#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/serve.h"
#include "common/leftovers.h"
#include "common/log.h"
#include "platform/platform.h"

namespace {

// Prints the optional message, an empty line and the usage text.
GLIMRA_PRINTF(1, 2)
int Usage(const char* format, ...) {
    if (format != nullptr) {
        std::va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::printf("\n\n");
    }
    std::printf("glimra - tells whether two picture files hold exactly the same pixels\n");
    std::printf("Usage: glimra <imageA> <imageB> [diffImage] [-v]\n\n");
    std::printf("\t-v : verbose\n");
    std::printf("\t-x : use xor diff\n");
    std::printf("\t-d : use abs delta diff [default]\n");
    std::printf("Compiled on %s\n", __DATE__);
    // A script reads status 0 as "identical": a mistyped command line must
    // never pass for that.
    return 1;
}

// The default time for one comparison: see "The worker and its limits" in
// the README for how it was chosen.
constexpr unsigned kDefaultTimeoutSeconds = 45;

// --help: the usage text, then every option with its meaning.
void Help() {
    Usage(nullptr);
    std::printf(
        "\nA single pair:\n"
        "  <imageA> <imageB> [diffImage]  compare two pictures; write the difference picture when they differ\n"
        "  -v                 say the outcome and how long each phase took\n"
        "  -d                 the difference picture holds each byte's absolute difference [default]\n"
        "  -x                 the difference picture holds each byte's exclusive or\n"
        "  --highlight        the difference picture shows A faded to grey, differing pixels in red\n"
        "  --ignore-alpha     the 24-bit forms alone decide: no alpha, 16-bit or float precision\n"
        "\nMany pairs:\n"
        "  <dirA> <dirB> [diffDir]  compare every picture below dirA with the one at the same path below dirB\n"
        "  --pairs=LIST       compare the pairs listed in LIST (tab-separated A, B, [diff]; - for standard input)\n"
        "  --jobs=N           compare up to N pairs at a time [the number of cores]\n"
        "  --shard=K/N        compare only the K-th of N parts of the pairs, chosen by name\n"
        "  --update           accept B as the new reference: copy it over A where they differ or A is missing\n"
        "  --serve            take pairs as JSON lines on standard input, answer each with a JSON line\n"
        "\nWhat counts (a pair that passes only by these is similar, status 0):\n"
        "  --ignore=WxH+X+Y   leave out a region, W by H pixels from X,Y; may be repeated\n"
        "  --tolerance=N      a pixel whose every channel differs by at most N levels (0-255) counts as equal\n"
        "  --threshold=T      a pixel counts only when its perceived colour difference (YIQ) exceeds T (0-1)\n"
        "  --antialiasing     a pixel that is anti-aliasing in either picture does not count\n"
        "  --max-differing=N  pass with at most N differing pixels, or N%% of those compared\n"
        "\nReports:\n"
        "  --json             one JSON object per pair on standard output, nothing else\n"
        "  --junit=FILE       also write a JUnit XML report to FILE\n"
        "  --report=DIR       also write an HTML report with the pictures to DIR/index.html\n"
        "\nLimits:\n"
        "  --timeout=SECONDS  time for one comparison [%u; 0: none]\n"
        "  --max-memory=SIZE  address space of the worker that decodes, e.g. 2G [3/4 of memory; 0: none]\n"
        "  --max-pixels=N     refuse pictures declaring more pixels [1073741824; 0: none]\n"
        "\n"
        "  --help             this text\n"
        "  --version          the version\n"
        "\nExit status: 0 identical or similar, 1 different or failed.\n",
        kDefaultTimeoutSeconds);
}

// Reads a whole decimal number with an optional binary unit suffix
// (K, M, G, T, either case) when `units` is set; false when `text` is not
// one or it does not fit.
bool ParseNumber(const char* text, bool units, std::uint64_t& value) {
    if (*text < '0' || *text > '9') {
        return false;
    }
    value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    if (*text == '\0') {
        return true;
    }
    const char* suffixes = "KMGT";
    const char* unit = units ? std::strchr(suffixes, std::toupper(static_cast<unsigned char>(*text)))
                             : nullptr;
    if (unit == nullptr || *unit == '\0' || text[1] != '\0') {
        return false;
    }
    const int shift = 10 * static_cast<int>(unit - suffixes + 1);
    if (value > (UINT64_MAX >> shift)) {
        return false;
    }
    value <<= shift;
    return true;
}

// The value of `--name=value` in `arg` ("" for a bare `--name`, which no
// number reads), or null when `arg` is not that option.
const char* OptionValue(const char* arg, const char* name) {
    const std::size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0) {
        return nullptr;
    }
    return arg[length] == '=' ? arg + length + 1 : arg[length] == '\0' ? arg + length : nullptr;
}

// Interrupted (Ctrl-C, a CI job cancelled), the tool stops its workers,
// removes every file it was still writing (the pictures already in place
// stay) and then dies by the same signal, so that its caller sees the
// interruption. All of it is safe in a signal handler.
void OnTermination(int signal) {
    ForEachWorker(KillWorker);
    ForEachTemporaryFile(RemoveFile);
    DieBySignal(signal);
}

// What the command line asks for.
struct CommandLine {
    const char* paths[3] = {nullptr, nullptr, nullptr};
    int pathCount = 0;
    const char* pairsFile = nullptr;
    Comparison comparison;
    RunLimits limits;
    bool memoryGiven = false;
    unsigned jobs = 0;  // 0: not given
    std::uint64_t shard = 1;  // of shards
    std::uint64_t shards = 1;
    bool verbose = false;
    bool json = false;
    bool update = false;
    bool serve = false;
    const char* junitPath = nullptr;
    const char* reportDir = nullptr;
};

// Where parsing ends without a run, the exit status; kGoOn otherwise.
constexpr int kGoOn = -1;

// A number option's value, or false when `value` is not a valid one.
bool NumberOption(const char* value, bool units, std::uint64_t limit, std::uint64_t& number) {
    return ParseNumber(value, units, number) && number <= limit;
}

// "K/N" with 1 <= K <= N.
bool ParseShard(const char* value, std::uint64_t& shard, std::uint64_t& shards) {
    const char* slash = std::strchr(value, '/');
    if (slash == nullptr) {
        return false;
    }
    const std::string first(value, slash);
    return ParseNumber(first.c_str(), false, shard) && ParseNumber(slash + 1, false, shards) &&
           shard >= 1 && shard <= shards;
}

// A decimal number from 0 to 1 ("0.1", ".05", "1"): digits and one point,
// nothing else, so that no exponent, sign or "nan" passes.
bool ParseFraction(const char* value, double& fraction) {
    const std::size_t length = std::strlen(value);
    if (length == 0 || length > 16 || std::strspn(value, "0123456789.") != length ||
        std::strchr(value, '.') != std::strrchr(value, '.') || std::strcmp(value, ".") == 0) {
        return false;
    }
    fraction = std::strtod(value, nullptr);
    return fraction <= 1;
}

// Not an option of what counts: ParseLongOption looks further.
constexpr int kNotScope = -2;

// --ignore=WxH+X+Y (repeatable), --tolerance=N, --threshold=T,
// --antialiasing, --max-differing=N or P%.
int ParseScopeOption(const char* arg, Scope& scope) {
    const char* value = nullptr;
    std::uint64_t number = 0;
    if ((value = OptionValue(arg, "--ignore")) != nullptr) {
        Region region;
        if (!ParseRegion(value, region)) {
            return Usage("Invalid value in %s", arg);
        }
        scope.ignored.push_back(region);
    } else if ((value = OptionValue(arg, "--tolerance")) != nullptr) {
        if (!ParseNumber(value, false, number) || number > 255) {
            return Usage("Invalid value in %s", arg);
        }
        scope.tolerance = static_cast<int>(number);
    } else if ((value = OptionValue(arg, "--threshold")) != nullptr) {
        if (!ParseFraction(value, scope.threshold)) {
            return Usage("Invalid value in %s", arg);
        }
        scope.yiq = true;
    } else if ((value = OptionValue(arg, "--antialiasing")) != nullptr) {
        if (*value != '\0') {
            return Usage("Invalid value in %s", arg);
        }
        scope.antialiasing = true;
    } else if ((value = OptionValue(arg, "--max-differing")) != nullptr) {
        scope.maxAsShare = std::strchr(value, '%') != nullptr;
        if (scope.maxAsShare ? !ParsePercent(value, scope.maxPercent) : !ParseNumber(value, false, number)) {
            return Usage("Invalid value in %s", arg);
        }
        scope.maxDiffering = number;
    } else {
        return kNotScope;
    }
    return kGoOn;
}

int ParseLongOption(const char* arg, CommandLine& line) {
    std::uint64_t number = 0;
    const char* value = nullptr;
    if (std::strcmp(arg, "--help") == 0) {
        Help();
        return 0;
    } else if (std::strcmp(arg, "--version") == 0) {
        std::printf("glimra %s\n", GLIMRA_VERSION);
        return 0;
    } else if (std::strcmp(arg, "--json") == 0) {
        line.json = true;
    } else if (std::strcmp(arg, "--update") == 0) {
        line.update = true;
    } else if (std::strcmp(arg, "--serve") == 0) {
        line.serve = true;
    } else if (std::strcmp(arg, "--highlight") == 0) {
        line.comparison.mode = DiffMode::Highlight;
    } else if (std::strcmp(arg, "--ignore-alpha") == 0) {
        line.comparison.ignoreAlpha = true;
    } else if (const int scoped = ParseScopeOption(arg, line.comparison.scope); scoped != kNotScope) {
        return scoped;
    } else if ((value = OptionValue(arg, "--timeout")) != nullptr) {
        if (!NumberOption(value, false, 100000000, number)) {
            return Usage("Invalid value in %s", arg);
        }
        line.limits.timeoutSeconds = static_cast<unsigned>(number);
    } else if ((value = OptionValue(arg, "--max-memory")) != nullptr) {
        if (!NumberOption(value, true, UINT64_MAX, number)) {
            return Usage("Invalid value in %s", arg);
        }
        line.limits.maxMemoryBytes = number;
        line.memoryGiven = true;
    } else if ((value = OptionValue(arg, "--max-pixels")) != nullptr) {
        if (!NumberOption(value, false, UINT64_MAX, number)) {
            return Usage("Invalid value in %s", arg);
        }
        line.comparison.maxPixels = number;
    } else if ((value = OptionValue(arg, "--jobs")) != nullptr) {
        if (!NumberOption(value, false, 256, number) || number == 0) {
            return Usage("Invalid value in %s", arg);
        }
        line.jobs = static_cast<unsigned>(number);
    } else if ((value = OptionValue(arg, "--shard")) != nullptr) {
        if (!ParseShard(value, line.shard, line.shards)) {
            return Usage("Invalid value in %s", arg);
        }
    } else if ((value = OptionValue(arg, "--pairs")) != nullptr) {
        if (*value == '\0') {
            return Usage("Invalid value in %s", arg);
        }
        line.pairsFile = value;
    } else if ((value = OptionValue(arg, "--report")) != nullptr) {
        if (*value == '\0') {
            return Usage("Invalid value in %s", arg);
        }
        line.reportDir = value;
    } else if ((value = OptionValue(arg, "--junit")) != nullptr) {
        if (*value == '\0') {
            return Usage("Invalid value in %s", arg);
        }
        line.junitPath = value;
    } else {
        return Usage("Unknown flag %s", arg);
    }
    return kGoOn;
}

int ParseCommandLine(int argc, const char* const* argv, CommandLine& line) {
    if (argc < 2) {
        return Usage("Must give both the image filenames!");
    }
    line.comparison.maxPixels = std::uint64_t{1} << 30;
    line.limits.timeoutSeconds = kDefaultTimeoutSeconds;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-' && arg[2] != '\0') {
            const int status = ParseLongOption(arg, line);
            if (status != kGoOn) {
                return status;
            }
        } else if (arg[0] == '-') {
            // Only the second character counts: -verbose is -v, -dx is -d.
            switch (arg[1]) {
            case 'd': line.comparison.mode = DiffMode::AbsDelta; break;
            case 'v': line.verbose = true; break;
            case 'x': line.comparison.mode = DiffMode::Xor; break;
            default: return Usage("Unknown flag %s", arg);
            }
        } else if (line.pathCount < 3) {
            line.paths[line.pathCount++] = arg;
        }
    }
    if (line.serve) {
        return line.pathCount == 0 && line.pairsFile == nullptr
                   ? kGoOn
                   : Usage("--serve takes its pairs from standard input, not the command line");
    }
    if (line.pairsFile != nullptr && line.pathCount > 0) {
        return Usage("Give the pairs with --pairs or on the command line, not both");
    }
    if (line.pairsFile == nullptr && line.pathCount < 2) {
        return Usage("Must give both the image filenames!");
    }
    return kGoOn;
}

// The pairs the command line names, and whether it named one pair of files
// (not directories, not a list); false when its list cannot be read (said
// here).
bool CollectPairs(const CommandLine& line, std::vector<BatchPair>& pairs, bool& onePair) {
    onePair = false;
    if (line.pairsFile != nullptr) {
        std::string problem;
        if (!ReadPairList(line.pairsFile, pairs, problem)) {
            LogMessage("%s", problem.c_str());
            return false;
        }
        return true;
    }
    std::error_code error;
    const bool directoryA = std::filesystem::is_directory(line.paths[0], error);
    const bool directoryB = std::filesystem::is_directory(line.paths[1], error);
    const char* other = directoryA ? line.paths[1] : line.paths[0];
    if (directoryA && directoryB) {
        pairs = ListDirectoryPairs(line.paths[0], line.paths[1], line.paths[2]);
    } else if ((directoryA || directoryB) && !std::filesystem::exists(other, error)) {
        // A directory against nothing: the one that is missing is to blame.
        LogMessage("No such file or directory: %s", other);
        return false;
    } else {
        pairs.push_back(SinglePair(line.paths[0], line.paths[1], line.paths[2]));
        onePair = true;
    }
    return true;
}

std::vector<std::unique_ptr<Report>> ChooseReports(const CommandLine& line, bool onePair,
                                                   const std::vector<BatchPair>& pairs) {
    // Similar pairs are counted apart where anything narrows what counts.
    const bool scoped = line.comparison.scope.Active() ||
                        std::any_of(pairs.begin(), pairs.end(), [](const BatchPair& pair) { return !pair.ignored.empty(); });
    std::vector<std::unique_ptr<Report>> reports;
    if (!onePair && StandardErrorIsTerminal()) {
        reports.push_back(MakeProgressReport(pairs.size()));
    }
    if (line.json) {
        reports.push_back(MakeJsonReport());
    } else if (onePair) {
        reports.push_back(MakeSinglePairReport());
    } else {
        PeopleOptions options;
        options.verbose = line.verbose;
        options.similarApart = scoped;
        options.update = line.update;
        options.antialiasing = line.comparison.scope.antialiasing;
        reports.push_back(MakePeopleReport(options));
    }
    // Standard output holds JSON and nothing else.
    std::FILE* complaints = line.json ? stderr : stdout;
    if (line.junitPath != nullptr) {
        reports.push_back(MakeJunitReport(line.junitPath, complaints));
    }
    if (line.reportDir != nullptr) {
        reports.push_back(MakeHtmlReport(line.reportDir, complaints));
    }
    return reports;
}

// What every run of pairs sets up before its first worker starts.
void PrepareRun(CommandLine& line, unsigned jobs) {
    if (!line.memoryGiven) {
        // Three quarters of the machine, shared by the workers running at once.
        line.limits.maxMemoryBytes = PhysicalMemoryBytes() / 4 * 3 / jobs;
    }
    // The tool's writes under a file-size limit fail and are reported like
    // any failed write, instead of the kernel ending it halfway.
    FailWritesBeyondFileSizeLimit();
    OnTerminationSignals(OnTermination);
    line.comparison.wholePictures = std::getenv("GLIMRA_WHOLE_PICTURES") != nullptr;
}

int Serve(CommandLine& line) {
    const unsigned jobs = line.jobs != 0 ? line.jobs : ProcessorCount();
    PrepareRun(line, jobs);
    return RunServer(line.comparison, line.limits, jobs);
}

int Dispatch(CommandLine& line) {
    if (line.serve) {
        return Serve(line);
    }
    std::vector<BatchPair> pairs;
    bool onePair = false;
    if (!CollectPairs(line, pairs, onePair)) {
        return 1;
    }
    KeepShard(pairs, line.shard, line.shards);
    if (line.reportDir != nullptr) {
        if (!PrepareReportDirectory(line.reportDir)) {
            LogMessage("Cannot write the report to %s", line.reportDir);
            return 1;
        }
        AssignReportPictures(pairs, line.reportDir);
    }
    const unsigned cores = line.jobs != 0 ? line.jobs : ProcessorCount();
    const unsigned jobs = onePair ? 1 : cores;
    // Many pairs run side by side already; one pair's two pictures may.
    line.comparison.readSideBySide = onePair && cores >= 2;
    PrepareRun(line, jobs);
    g_verbose = line.verbose;
    return RunBatch(pairs, line.comparison, line.limits, jobs, line.update, ChooseReports(line, onePair, pairs));
}

}  // namespace

// P% with P a decimal number from 0 to 100 (at most "100", "2.5", ".5").
bool ParsePercent(const char* value, double& percent) {
    const std::size_t length = std::strlen(value);
    if (length < 2 || value[length - 1] != '%' || length > 12) {
        return false;
    }
    double whole = 0;
    double scale = 0;  // 0: before the point
    bool digits = false;
    for (std::size_t i = 0; i + 1 < length; ++i) {
        const char c = value[i];
        if (c == '.' && scale == 0) {
            scale = 1;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digits = true;
            scale = scale == 0 ? 0 : scale / 10;
            whole = scale == 0 ? whole * 10 + (c - '0') : whole + (c - '0') * scale;
        } else {
            return false;
        }
    }
    percent = whole;
    return digits && whole <= 100;
}

int RunCommandLine(int argc, const char* const* argv) {
    UseBinaryStandardStreams();
    CommandLine line;
    const int status = ParseCommandLine(argc, argv, line);
    return status != kGoOn ? status : Dispatch(line);
}
