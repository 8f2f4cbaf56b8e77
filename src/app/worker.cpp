#include "app/worker.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "app/scoped_timer.h"
#include "common/log.h"
#include "image/freeimage_library.h"
#include "platform/platform.h"

namespace {

// A worker's exit status beyond the run's own 0 (identical) and 1: it met
// a file only the picture library reads after the sandbox had shut it out
// of loading that library, and must be run again with it loaded first.
constexpr int kNeedsLibrary = 3;

// The control socket's two messages: a request to put the output in
// place, and the answer.
constexpr char kPlaceOutput = 'P';
constexpr char kPlaced = '1';
constexpr char kNotPlaced = '0';

// What the parent sees of a running worker, in memory both share.
struct SharedState {
    std::atomic<int> step;
    std::atomic<std::uint64_t> phaseStartTicks;
};

struct WorkerJob {
    const Comparison* comparison;
    const RunLimits* limits;
    AtomicFile* output;
    SharedState* shared;
    bool preloadLibrary;
};

[[noreturn]] void ExitForLibrary() { std::_Exit(kNeedsLibrary); }

class WorkerHost : public RunHost {
public:
    WorkerHost(SharedState& state, int controlSocket, bool preload)
        : shared(state), control(controlSocket), preloadLibrary(preload) {}

    void Reached(RunStep step, std::uint64_t phaseStartTicks) override {
        shared.phaseStartTicks.store(phaseStartTicks);
        shared.step.store(static_cast<int>(step));
    }

    void InputsOpen(bool libraryNeeded) override {
        // The library opens its own files when it is loaded: now or never.
        if (libraryNeeded || preloadLibrary) {
            PreloadFreeImage();
        }
        if (EnterSandbox() && !FreeImageLoaded()) {
            ForbidLoadingFreeImage(ExitForLibrary);
        }
    }

    bool PlaceOutput(AtomicFile&) override {
        char answer = kNotPlaced;
        return WriteAll(control, &kPlaceOutput, 1) && ReadSome(control, &answer, 1) == 1 &&
               answer == kPlaced;
    }

private:
    SharedState& shared;
    int control;
    bool preloadLibrary;
};

int WorkerMain(int control, void* context) {
    const WorkerJob& job = *static_cast<const WorkerJob*>(context);
#if !GLIMRA_SANITIZED
    // What a dying library or the C library's heap checks have to say goes
    // nowhere: the tool's messages are on standard output, and the parent
    // tells how the worker ended. A sanitizer's report must stay visible.
    DiscardStandardError();
#endif
#if !GLIMRA_UNDER_ASAN
    // AddressSanitizer reserves terabytes of shadow memory at start; no
    // limit below that leaves it working.
    if (job.limits->maxMemoryBytes != 0) {
        LimitAddressSpace(job.limits->maxMemoryBytes);
    }
#endif
    WorkerHost host(*job.shared, control, job.preloadLibrary);
    return RunComparison(*job.comparison, job.output, host) ? 0 : 1;
}

const char* PhaseLabel(RunStep step) {
    switch (step) {
    case RunStep::LoadingA:
    case RunStep::LoadingB: return "Load source images";
    case RunStep::Comparing: return "Perform diff";
    default: return "Save diff image";
    }
}

// What a run that ended in the middle of `step` says, as the thrower of a
// FatalError would: the failure, then in verbose mode the timer line of
// the phase it was in.
void ReportUnfinished(const Comparison& comparison, const SharedState& shared, bool timedOut,
                      unsigned timeoutSeconds) {
    const auto step = static_cast<RunStep>(shared.step.load());
    if (step == RunStep::Finished) {
        return;
    }
    const char* file = step == RunStep::LoadingA ? comparison.pathA
                       : step == RunStep::LoadingB ? comparison.pathB
                                                   : comparison.diffPath;
    if (timedOut) {
        switch (step) {
        case RunStep::Comparing:
            LogMessage("Timed out after %u s comparing %s and %s", timeoutSeconds,
                       comparison.pathA, comparison.pathB);
            break;
        case RunStep::Saving: LogMessage("Timed out after %u s saving %s", timeoutSeconds, file); break;
        default: LogMessage("Timed out after %u s loading %s", timeoutSeconds, file); break;
        }
    } else {
        switch (step) {
        case RunStep::Comparing:
            LogMessage("Failed to compare %s and %s", comparison.pathA, comparison.pathB);
            break;
        case RunStep::Saving: LogMessage("Failed to save %s", file); break;
        default: LogMessage("Failed to load %s", file); break;
        }
    }
    if (g_verbose) {
        LogMessage("%s took %.1f ms", PhaseLabel(step),
                   static_cast<double>(ElapsedMs(QueryCounterTicks(), shared.phaseStartTicks.load())));
    }
}

// Milliseconds left until `deadline` (counter ticks; 0: none), -1 for no
// limit.
int MillisecondsLeft(std::uint64_t deadline) {
    if (deadline == 0) {
        return -1;
    }
    const std::uint64_t now = QueryCounterTicks();
    if (now >= deadline) {
        return 0;
    }
    const std::uint64_t left = (deadline - now) * 1000 / QueryCounterFrequency() + 1;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

struct Outcome {
    WorkerEnd end;
    bool timedOut = false;
    std::string printed;
};

// Waits for the worker to end, collecting what it prints and answering
// its requests, and kills it when `deadline` passes.
Outcome Supervise(const WorkerProcess& worker, AtomicFile* output, SharedState& shared,
                  std::uint64_t deadline) {
    Outcome outcome;
    int open[2] = {worker.output, worker.control};
    while (open[0] >= 0 || open[1] >= 0) {
        bool ready[2] = {false, false};
        if (!WaitForInput(open, ready, 2, MillisecondsLeft(deadline))) {
            KillWorker(worker);
            outcome.timedOut = true;
            // What it printed before it was stopped still comes first.
            char buffer[4096];
            long got = 0;
            while (open[0] >= 0 && (got = ReadSome(open[0], buffer, sizeof buffer)) > 0) {
                outcome.printed.append(buffer, static_cast<std::size_t>(got));
            }
            break;
        }
        if (ready[0]) {
            char buffer[4096];
            const long got = ReadSome(open[0], buffer, sizeof buffer);
            if (got > 0) {
                outcome.printed.append(buffer, static_cast<std::size_t>(got));
            } else {
                open[0] = -1;
            }
        }
        if (ready[1]) {
            char request = 0;
            if (ReadSome(open[1], &request, 1) == 1 && request == kPlaceOutput && output != nullptr) {
                const bool placed = output->Commit();
                if (placed) {
                    shared.step.store(static_cast<int>(RunStep::Finished));
                }
                WriteAll(open[1], placed ? &kPlaced : &kNotPlaced, 1);
            } else {
                open[1] = -1;
            }
        }
    }
    outcome.end = WaitForWorker(worker);
    CloseDescriptor(worker.output);
    CloseDescriptor(worker.control);
    return outcome;
}

struct SharedMemory {
    explicit SharedMemory(std::size_t bytes) : size(bytes), memory(MapSharedMemory(bytes)) {}
    ~SharedMemory() { UnmapSharedMemory(memory, size); }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    std::size_t size;
    void* memory;
};

}  // namespace

bool RunInWorker(const Comparison& comparison, const RunLimits& limits, AtomicFile* output,
                 bool& identical) {
    SharedMemory memory(sizeof(SharedState));
    if (memory.memory == nullptr) {
        return false;
    }
    auto* shared = new (memory.memory) SharedState{};
    const std::uint64_t deadline =
        limits.timeoutSeconds == 0
            ? 0
            : QueryCounterTicks() + limits.timeoutSeconds * QueryCounterFrequency();
    WorkerJob job{&comparison, &limits, output, shared, false};
    for (;;) {
        shared->step.store(static_cast<int>(RunStep::LoadingA));
        shared->phaseStartTicks.store(QueryCounterTicks());
        WorkerProcess worker;
        if (!StartWorker(worker, WorkerMain, &job)) {
            return false;
        }
        const Outcome outcome = Supervise(worker, output, *shared, deadline);
        if (!outcome.timedOut && outcome.end.exited && outcome.end.status == kNeedsLibrary &&
            !job.preloadLibrary) {
            job.preloadLibrary = true;
            continue;
        }
        std::fwrite(outcome.printed.data(), 1, outcome.printed.size(), stdout);
        std::fflush(stdout);
        const bool answered = !outcome.timedOut && outcome.end.exited &&
                              (outcome.end.status == 0 || outcome.end.status == 1);
        if (!answered) {
            ReportUnfinished(comparison, *shared, outcome.timedOut, limits.timeoutSeconds);
        }
        identical = answered && outcome.end.status == 0;
        return true;
    }
}
