#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/batch.h"
#include "app/compare_images.h"
#include "common/log.h"
#include "platform/platform.h"

namespace {

// Prints the optional message, an empty line and the usage text.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
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

}  // namespace

int RunCommandLine(int argc, const char* const* argv) {
    if (argc < 2) {
        return Usage("Must give both the image filenames!");
    }

    const char* paths[3] = {nullptr, nullptr, nullptr};
    int pathCount = 0;
    Comparison comparison;
    comparison.maxPixels = std::uint64_t{1} << 30;
    RunLimits limits;
    limits.timeoutSeconds = 300;
    bool memoryGiven = false;
    ReportOptions report;
    report.jobs = 0;  // not given
    const char* pairsFile = nullptr;
    bool verbose = false;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-' && arg[1] == '-' && arg[2] != '\0') {
            std::uint64_t number = 0;
            const char* value = nullptr;
            if (std::strcmp(arg, "--help") == 0) {
                Usage(nullptr);
                return 0;
            } else if (std::strcmp(arg, "--version") == 0) {
                std::printf("glimra %s\n", GLIMRA_VERSION);
                return 0;
            } else if (std::strcmp(arg, "--json") == 0) {
                report.json = true;
            } else if (std::strcmp(arg, "--highlight") == 0) {
                comparison.mode = DiffMode::Highlight;
            } else if ((value = OptionValue(arg, "--timeout")) != nullptr) {
                if (!ParseNumber(value, false, number) || number > 100000000) {
                    return Usage("Invalid value in %s", arg);
                }
                limits.timeoutSeconds = static_cast<unsigned>(number);
            } else if ((value = OptionValue(arg, "--max-memory")) != nullptr) {
                if (!ParseNumber(value, true, number)) {
                    return Usage("Invalid value in %s", arg);
                }
                limits.maxMemoryBytes = number;
                memoryGiven = true;
            } else if ((value = OptionValue(arg, "--max-pixels")) != nullptr) {
                if (!ParseNumber(value, false, number)) {
                    return Usage("Invalid value in %s", arg);
                }
                comparison.maxPixels = number;
            } else if ((value = OptionValue(arg, "--jobs")) != nullptr) {
                if (!ParseNumber(value, false, number) || number == 0 || number > 256) {
                    return Usage("Invalid value in %s", arg);
                }
                report.jobs = static_cast<unsigned>(number);
            } else if ((value = OptionValue(arg, "--pairs")) != nullptr) {
                if (*value == '\0') {
                    return Usage("Invalid value in %s", arg);
                }
                pairsFile = value;
            } else if ((value = OptionValue(arg, "--junit")) != nullptr) {
                if (*value == '\0') {
                    return Usage("Invalid value in %s", arg);
                }
                report.junitPath = value;
            } else {
                return Usage("Unknown flag %s", arg);
            }
        } else if (arg[0] == '-') {
            // Only the second character counts: -verbose is -v, -dx is -d.
            switch (arg[1]) {
            case 'd': comparison.mode = DiffMode::AbsDelta; break;
            case 'v': verbose = true; break;
            case 'x': comparison.mode = DiffMode::Xor; break;
            default: return Usage("Unknown flag %s", arg);
            }
        } else if (pathCount < 3) {
            paths[pathCount++] = arg;
        }
    }

    if (pairsFile != nullptr && pathCount > 0) {
        return Usage("Give the pairs with --pairs or on the command line, not both");
    }
    if (pairsFile == nullptr && pathCount < 2) {
        return Usage("Must give both the image filenames!");
    }

    std::vector<BatchPair> pairs;
    std::error_code error;
    const bool directories = pairsFile == nullptr && std::filesystem::is_directory(paths[0], error) &&
                             std::filesystem::is_directory(paths[1], error);
    if (pairsFile != nullptr) {
        std::string problem;
        if (!ReadPairList(pairsFile, pairs, problem)) {
            LogMessage("%s", problem.c_str());
            return 1;
        }
    } else if (directories) {
        pairs = ListDirectoryPairs(paths[0], paths[1], paths[2]);
    } else {
        BatchPair pair;
        pair.name = std::string(paths[0]) + " " + paths[1];
        pair.pathA = paths[0];
        pair.pathB = paths[1];
        pair.diffPath = paths[2] != nullptr ? paths[2] : "";
        pairs.push_back(pair);
        report.single = true;
        report.jobs = 1;
    }
    if (report.jobs == 0) {
        // Asked only here: a single pair, most runs, needs no count.
        report.jobs = std::max(1u, std::thread::hardware_concurrency());
    }
    // Verbose single runs print their phases; a report prints each pair's
    // time itself.
    report.verbose = verbose;
    g_verbose = verbose && report.single && !report.json;
    if (!memoryGiven) {
        // Three quarters of the machine, shared by the workers running at once.
        limits.maxMemoryBytes = PhysicalMemoryBytes() / 4 * 3 / report.jobs;
    }
    return RunBatch(pairs, comparison, limits, report);
}
