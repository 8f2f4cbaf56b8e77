// Many pairs in one run: two directories compared file by file, or a list
// of pairs, each pair in a worker of its own, several at a time, reported
// in their order for people (one line per pair that is not identical and a
// summary), as JSON lines, and as a JUnit report.
#pragma once

#include <string>
#include <vector>

#include "app/compare_images.h"

// One line of a batch: two files to compare and where the difference
// picture goes, or the reason there is nothing to compare.
struct BatchPair {
    std::string name;  // how reports call it
    std::string pathA;
    std::string pathB;
    std::string diffPath;         // empty: none
    PairStatus preset = PairStatus::Identical;  // Missing or Failed: not compared
    std::string problem;          // why, for a Failed one
    bool missingA = false;        // for a Missing one: which side lacks it
    // Whether the picture library will be needed: a file in a format not
    // ours, or a difference picture to write.
    bool needsLibrary = true;
};

struct ReportOptions {
    // One pair on the command line: what its run prints is the report,
    // as it always was, and there is no summary.
    bool single = false;
    bool verbose = false;       // every pair, with its time
    bool json = false;          // JSON lines instead of lines for people
    const char* junitPath = nullptr;
    unsigned jobs = 1;
};

// Every picture file under `dirA` (recursively, in sorted order of their
// paths below it) against the file at the same path under `dirB`, and the
// pictures only `dirB` has. Files that are not pictures take no part.
// With `diffDir`, each difference picture goes to the same path below it.
std::vector<BatchPair> ListDirectoryPairs(const std::string& dirA, const std::string& dirB,
                                          const char* diffDir);

// The pairs of a list file (or standard input for "-"): one to a line,
// A, B and optionally the difference picture, separated by tabs. False,
// with `error` set, when the file cannot be read.
bool ReadPairList(const char* path, std::vector<BatchPair>& pairs, std::string& error);

// Compares them all as `base` says (paths aside) and reports; the exit
// status: 0 when every pair is identical and nothing is missing.
int RunBatch(std::vector<BatchPair>& pairs, const Comparison& base, const RunLimits& limits,
             const ReportOptions& options);
