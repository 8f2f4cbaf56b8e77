// Runs the built binary as a child process and collects what a script would
// see of it: standard output, standard error and how it ended.
#pragma once

#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

struct ProcessLimits {
    std::uint64_t addressSpaceBytes = 0;  // RLIMIT_AS; 0 leaves it alone
    std::uint64_t fileSizeBytes = 0;      // RLIMIT_FSIZE; 0 leaves it alone
};

struct ProcessResult {
    int exitStatus = -1;   // -1 when the process did not exit normally
    int signal = 0;        // the signal that ended it, 0 if none
    std::string output;    // everything written to standard output
    std::string errors;    // everything written to standard error
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessLimits& limits = {});

// A run of the binary that goes on while the test looks at it.
struct RunningProcess {
    long id = -1;
    int output = -1;
    int errors = -1;
};
RunningProcess StartProcess(const std::string& program, const std::vector<std::string>& args);
// Collects what it printed and waits for it to end.
ProcessResult FinishProcess(RunningProcess& process);
// The processes it started itself (its workers), from /proc.
std::vector<long> ChildrenOf(long id);
// Whether process `id` is gone: ended and reaped, or ended and waiting to
// be reaped by whoever inherited it.
bool ProcessGone(long id);

// Waits (up to `seconds`) until `done` holds, checking every few
// milliseconds.
template <typename Condition>
bool WaitUntil(Condition done, int seconds = 20) {
    for (int i = 0; i < seconds * 200; ++i) {
        if (done()) {
            return true;
        }
        struct timespec pause = {0, 5000000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

// The first worker of a running glimra, once it has one (-1 after 20 s
// without).
long WorkerOf(const RunningProcess& run);
