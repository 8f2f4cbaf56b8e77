// What a worker and its parent agree on. The worker tells everything about
// its run through the RunRecord both share (run_record.h); besides that
// there are only its exit status and a few bytes on the control socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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
// order), and the pair's index among the pairs the worker was started
// with. When the record is complete it answers with kAnswered.
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
