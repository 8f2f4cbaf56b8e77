// What a run compares: two directories file by file, a list of pairs, or
// the one pair of the command line, each as BatchPairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run/compare_images.h"

// Two files to compare and where the difference picture goes, or the
// reason there is nothing to compare; after the run, how it came out.
struct BatchPair {
    std::string name;  // how reports call it
    std::string pathA;
    std::string pathB;
    std::string diffPath;  // empty: none
    // False when there is nothing to compare: `status` is then Missing (and
    // `missingA` says which side lacks it) or Failed (`problem` says why).
    bool compare = true;
    PairStatus status = PairStatus::Identical;
    bool missingA = false;
    // Different because the pictures' sizes differ (`sizes`: A's, then B's).
    bool sizesDiffer = false;
    std::int32_t sizes[2][2] = {};
    // B was copied to A's path (--update).
    bool updated = false;
    std::string problem;
    // Whether the picture library may be needed (true when unknown).
    bool needsLibrary = true;
    // Whether the difference picture's folder is made when missing.
    bool makeDiffFolder = false;
    // Regions this pair leaves out besides the command line's (a list's
    // fourth column).
    std::vector<Region> ignored;
    // Options of its own in place of the run's (a server's request); paths
    // and regions still come from the pair.
    const Comparison* options = nullptr;
    // Where a report wants its pictures (empty: no report).
    std::string reportPictures[kReportPictures];
};

// Every picture file under `dirA` (recursively, in sorted order of their
// paths below it) against the file at the same path under `dirB`, and the
// pictures only `dirB` has. Files that are not pictures take no part.
// With `diffDir`, each difference picture goes to the same path below it.
std::vector<BatchPair> ListDirectoryPairs(const std::string& dirA, const std::string& dirB,
                                          const char* diffDir);

// The pairs of a list file (or standard input for "-"): one to a line,
// A, B and optionally the difference picture and the regions to leave out
// (WxH+X+Y, separated by spaces), separated by tabs. False,
// with `error` set, when the file cannot be read.
bool ReadPairList(const char* path, std::vector<BatchPair>& pairs, std::string& error);

// Keeps only the pairs of part `shard` (1 to `shards`) of `shards`
// disjoint parts. A pair's part follows from its name alone, so the
// parts of a tree stay put as files come and go.
void KeepShard(std::vector<BatchPair>& pairs, std::uint64_t shard, std::uint64_t shards);

// The one pair of the command line; `diffPath` may be null.
BatchPair SinglePair(const char* pathA, const char* pathB, const char* diffPath);
