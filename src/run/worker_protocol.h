// What a worker and its parent agree on. The worker tells everything about
// its run through the RunRecord both share (run_record.h); besides that
// there are only its exit status and a few bytes on the control socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>

#include "run/compare_images.h"

// The run reached its end and its record says how it came out. Any other
// end (a signal, another status) means the worker died on the way.
constexpr int kExitAnswered = 0;
// The run met a file only the picture library reads after the sandbox had
// shut it out of loading that library: run it again with the library
// loaded first.
constexpr int kExitNeedsLibrary = 3;

// The control socket's messages: the worker asks to put the difference
// picture or the report's pictures in place, and the parent answers
// whether it did.
constexpr char kPlaceOutput = 'P';
// Followed by one byte: the report pictures written, a bit per
// ReportPicture.
constexpr char kPlaceReportPictures = 'R';
constexpr char kPlaced = '1';
constexpr char kNotPlaced = '0';

// A serving worker takes pair after pair. Each comes as one message: the
// kind, a byte with a bit per ServedFile sent along (open files in that
// order), and the pair's index (for the record of whoever debugs), its
// comparison already written to the WireComparison the two share. When
// the record is complete it answers with kAnswered.
constexpr char kRunPair = 'J';
constexpr char kAnswered = 'A';
enum ServedFile : unsigned { kServedA, kServedB, kServedDifference, kServedReport, kServedFiles = kServedReport + 4 };

constexpr std::size_t kPairMessageSize = 2 + sizeof(std::uint64_t);

inline void PutPairMessage(char* message, unsigned files, std::uint64_t index) {
    message[0] = kRunPair;
    message[1] = static_cast<char>(files);
    std::memcpy(message + 2, &index, sizeof index);
}

inline std::uint64_t PairIndexOf(const char* message) {
    std::uint64_t index = 0;
    std::memcpy(&index, message + 2, sizeof index);
    return index;
}

// A pair's comparison as a serving worker takes it: plain fields in the
// memory it shares with its parent, so that a worker started long before
// learns any pair's options. Paths do not travel: the worker has the
// files, and the parent words every message.
constexpr std::size_t kWireRegions = 64;
struct WireComparison {
    DiffMode mode;
    std::uint64_t maxPixels;
    bool ignoreAlpha;
    bool measure;
    bool readSideBySide;
    bool wholePictures;
    bool difference;  // a difference picture is asked for (PNG: served pairs write no other)
    bool report;      // so are the report's pictures
    int tolerance;
    std::uint64_t maxDiffering;
    bool maxAsShare;
    double maxPercent;
    bool yiq;
    double threshold;
    bool antialiasing;
    std::uint32_t regionCount;
    Region regions[kWireRegions];
};

// False when the comparison does not fit (more regions than there is room for).
inline bool ToWire(const Comparison& comparison, WireComparison& wire) {
    const Scope& scope = comparison.scope;
    if (scope.ignored.size() > kWireRegions) {
        return false;
    }
    wire = WireComparison{comparison.mode, comparison.maxPixels, comparison.ignoreAlpha, comparison.measure,
                          comparison.readSideBySide, comparison.wholePictures, comparison.diffPath != nullptr,
                          comparison.reportPictures[kPictureA] != nullptr, scope.tolerance, scope.maxDiffering,
                          scope.maxAsShare, scope.maxPercent, scope.yiq, scope.threshold, scope.antialiasing,
                          static_cast<std::uint32_t>(scope.ignored.size()), {}};
    std::copy(scope.ignored.begin(), scope.ignored.end(), wire.regions);
    return true;
}

// The comparison on the worker's side, with stand-in names for the
// outputs it is sent.
inline Comparison FromWire(const WireComparison& wire) {
    Comparison comparison;
    comparison.pathA = "A";
    comparison.pathB = "B";
    comparison.diffPath = wire.difference ? "difference.png" : nullptr;
    comparison.mode = wire.mode;
    comparison.maxPixels = wire.maxPixels;
    comparison.ignoreAlpha = wire.ignoreAlpha;
    comparison.measure = wire.measure;
    comparison.readSideBySide = wire.readSideBySide;
    comparison.wholePictures = wire.wholePictures;
    Scope& scope = comparison.scope;
    scope.ignored.assign(wire.regions, wire.regions + std::min<std::size_t>(wire.regionCount, kWireRegions));
    scope.tolerance = wire.tolerance;
    scope.maxDiffering = wire.maxDiffering;
    scope.maxAsShare = wire.maxAsShare;
    scope.maxPercent = wire.maxPercent;
    scope.yiq = wire.yiq;
    scope.threshold = wire.threshold;
    scope.antialiasing = wire.antialiasing;
    for (const char*& picture : comparison.reportPictures) {
        picture = wire.report ? "report.png" : nullptr;
    }
    return comparison;
}
