#include "app/batch_inputs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "common/log.h"
#include "image/freeimage_library.h"
#include "image/image_file.h"

namespace fs = std::filesystem;

namespace {

// The regular files below `dir` that are pictures, as paths relative to
// it, and whether reading each needs the picture library.
std::map<std::string, bool> PicturesBelow(const fs::path& dir) {
    std::map<std::string, bool> pictures;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        // Only regular files: opening a pipe to look at it would wait for ever.
        if (!it->is_regular_file(error)) {
            continue;
        }
        const PictureFile file = OpenPictureFile(it->path().string().c_str());
        if (file == nullptr) {
            continue;
        }
        const bool needsLibrary = NeedsPictureLibrary(file.get(), nullptr);
        // Only the library tells its formats from other files.
        if (needsLibrary) {
            PreloadFreeImage();
        }
        if (IsPictureFile(file.get())) {
            pictures[it->path().lexically_relative(dir).generic_string()] = needsLibrary;
        }
    }
    return pictures;
}

// `relative` (separated by '/') below `dir` as the command line wrote it:
// the same text on every system, so that reports read alike everywhere.
std::string Below(const std::string& dir, const std::string& relative) {
    if (dir.empty()) {
        return relative;
    }
    return dir + (dir.back() == '/' || dir.back() == '\\' ? "" : "/") + relative;
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
        for (const auto& [relative, needsLibrary] : *side) {
            all.insert(relative);
        }
    }
    std::vector<BatchPair> pairs;
    for (const std::string& relative : all) {
        BatchPair pair;
        pair.name = relative;
        pair.pathA = Below(dirA, relative);
        pair.pathB = Below(dirB, relative);
        if (diffDir != nullptr) {
            pair.diffPath = DifferencePicturePath(Below(diffDir, relative));
            pair.makeDiffFolder = true;
        }
        if (inA.count(relative) == 0 || inB.count(relative) == 0) {
            pair.compare = false;
            pair.status = PairStatus::Missing;
            pair.missingA = inA.count(relative) == 0;
        } else {
            pair.needsLibrary =
                NeedsPictureLibrary(nullptr, diffDir != nullptr ? pair.diffPath.c_str() : nullptr) ||
                inA.at(relative) || inB.at(relative);
        }
        pairs.push_back(pair);
    }
    return pairs;
}

namespace {

// Regions separated by spaces; false, with `bad` the one that is not a
// region, otherwise.
bool ParseRegions(const std::string& text, std::vector<Region>& regions, std::string& bad) {
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t space = text.find(' ', start);
        const std::string word = text.substr(start, space - start);
        start = space == std::string::npos ? text.size() : space + 1;
        Region region;
        if (word.empty()) {
            continue;
        }
        if (!ParseRegion(word, region)) {
            bad = word;
            return false;
        }
        regions.push_back(region);
    }
    return true;
}

}  // namespace

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
        std::string badRegion;
        if (fields.size() < 2 || fields.size() > 4 || fields[0].empty() || fields[1].empty()) {
            pair.problem = FormatMessage("Line %d of %s is not A<tab>B[<tab>difference picture]",
                                         number, path);
        } else if (fields.size() == 4 && !ParseRegions(fields[3], pair.ignored, badRegion)) {
            pair.problem = FormatMessage("Line %d of %s has a region that is not WxH+X+Y: %s", number,
                                         path, badRegion.c_str());
        } else {
            pair.pathA = fields[0];
            pair.pathB = fields[1];
            pair.diffPath = fields.size() >= 3 ? fields[2] : "";
            pair.makeDiffFolder = true;
        }
        if (!pair.problem.empty()) {
            pair.compare = false;
            pair.status = PairStatus::Failed;
        }
        pairs.push_back(pair);
    }
    if (!standardInput) {
        std::fclose(in);
    }
    return true;
}

BatchPair SinglePair(const char* pathA, const char* pathB, const char* diffPath) {
    BatchPair pair;
    pair.name = std::string(pathA) + " " + pathB;
    pair.pathA = pathA;
    pair.pathB = pathB;
    pair.diffPath = diffPath != nullptr ? diffPath : "";
    return pair;
}

namespace {

// FNV-1a, 64 bits: the same on every machine and in every run.
std::uint64_t NameHash(const std::string& name) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    }
    return hash;
}

}  // namespace

void KeepShard(std::vector<BatchPair>& pairs, std::uint64_t shard, std::uint64_t shards) {
    if (shards <= 1) {
        return;
    }
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                               [&](const BatchPair& pair) { return NameHash(pair.name) % shards != shard - 1; }),
                pairs.end());
}
