#include "app/worker.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <new>

#include "app/scoped_timer.h"
#include "common/log.h"
#include "image/freeimage_library.h"
#include "platform/platform.h"

namespace {

// A worker's exit status tells how its pair came out; one more value says
// that it met a file only the picture library reads after the sandbox had
// shut it out of loading that library, and must be run again with the
// library loaded first.
constexpr int kExitIdentical = 0;
constexpr int kExitDifferent = 1;
constexpr int kExitFailed = 2;
constexpr int kExitNeedsLibrary = 3;

// The control socket's two messages: a request to put the output in
// place, and the answer.
constexpr char kPlaceOutput = 'P';
constexpr char kPlaced = '1';
constexpr char kNotPlaced = '0';

// What the parent sees of a running worker, in memory both share. The
// facts are written before `measured` is set.
struct SharedState {
    std::atomic<int> step;
    std::atomic<std::uint64_t> phaseStartTicks;
    std::atomic<bool> measured;
    PairFacts facts;
};

struct WorkerJob {
    const Comparison* comparison;
    const RunLimits* limits;
    AtomicFile* output;
    SharedState* shared;
    bool preloadLibrary;
};

[[noreturn]] void ExitForLibrary() { std::_Exit(kExitNeedsLibrary); }

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

    void Measured(const PairFacts& facts) override {
        shared.facts = facts;
        shared.measured.store(true);
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
    switch (CompareImages(*job.comparison, job.output, host)) {
    case PairStatus::Identical: return kExitIdentical;
    case PairStatus::Different: return kExitDifferent;
    default: return kExitFailed;
    }
}

// The run in this process, where the system has no workers: its messages
// are kept for the report like a worker's.
class InProcessHost : public RunHost {
public:
    explicit InProcessHost(PairRun& run) : pair(run) {}
    void Reached(RunStep, std::uint64_t) override {}
    void InputsOpen(bool) override {}
    bool PlaceOutput(AtomicFile& output) override { return output.Commit(); }
    void Measured(const PairFacts& facts) override {
        pair.facts = facts;
        pair.measured = true;
    }

private:
    PairRun& pair;
};

const char* PhaseLabel(RunStep step) {
    switch (step) {
    case RunStep::LoadingA:
    case RunStep::LoadingB: return "Load source images";
    case RunStep::Comparing: return "Perform diff";
    default: return "Save diff image";
    }
}

// What a run that ended in the middle of its step says, as the thrower of
// a FatalError would: the failure, then in verbose mode the timer line of
// the phase it was in.
std::string Unfinished(const Comparison& comparison, const SharedState& shared, bool timedOut,
                       unsigned timeoutSeconds) {
    const auto step = static_cast<RunStep>(shared.step.load());
    const char* file = step == RunStep::LoadingA   ? comparison.pathA
                       : step == RunStep::LoadingB ? comparison.pathB
                                                   : comparison.diffPath;
    std::string said;
    if (timedOut) {
        switch (step) {
        case RunStep::Comparing:
            said = FormatMessage("Timed out after %u s comparing %s and %s", timeoutSeconds,
                                 comparison.pathA, comparison.pathB);
            break;
        case RunStep::Saving:
            said = FormatMessage("Timed out after %u s saving %s", timeoutSeconds, file);
            break;
        default: said = FormatMessage("Timed out after %u s loading %s", timeoutSeconds, file); break;
        }
    } else {
        switch (step) {
        case RunStep::Comparing:
            said = FormatMessage("Failed to compare %s and %s", comparison.pathA, comparison.pathB);
            break;
        case RunStep::Saving: said = FormatMessage("Failed to save %s", file); break;
        default: said = FormatMessage("Failed to load %s", file); break;
        }
    }
    said += '\n';
    if (g_verbose) {
        said += FormatMessage("%s took %.1f ms", PhaseLabel(step),
                              static_cast<double>(ElapsedMs(QueryCounterTicks(),
                                                            shared.phaseStartTicks.load())));
        said += '\n';
    }
    return said;
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

// A pair in the hands of a worker.
struct Running {
    std::size_t index = 0;
    std::unique_ptr<AtomicFile> output;
    SharedState* shared = nullptr;
    WorkerJob job{};
    WorkerProcess process;
    std::uint64_t startTicks = 0;
    std::uint64_t deadline = 0;
    bool timedOut = false;
    std::string printed;
};

void ResetShared(SharedState& shared) {
    shared.step.store(static_cast<int>(RunStep::LoadingA));
    shared.phaseStartTicks.store(QueryCounterTicks());
    shared.measured.store(false);
}

bool Start(Running& run) {
    ResetShared(*run.shared);
    run.printed.clear();
    run.timedOut = false;
    return StartWorker(run.process, WorkerMain, &run.job);
}

// Reads what the worker printed or asks for; marks its descriptors closed
// (-1) at their ends.
void Serve(Running& run, bool outputReady, bool controlReady) {
    if (outputReady) {
        char buffer[4096];
        const long got = ReadSome(run.process.output, buffer, sizeof buffer);
        if (got > 0) {
            run.printed.append(buffer, static_cast<std::size_t>(got));
        } else {
            CloseDescriptor(run.process.output);
            run.process.output = -1;
        }
    }
    if (controlReady) {
        char request = 0;
        if (ReadSome(run.process.control, &request, 1) == 1 && request == kPlaceOutput &&
            run.output != nullptr) {
            const bool placed = run.output->Commit();
            if (placed) {
                run.shared->step.store(static_cast<int>(RunStep::Finished));
            }
            WriteAll(run.process.control, placed ? &kPlaced : &kNotPlaced, 1);
        } else {
            CloseDescriptor(run.process.control);
            run.process.control = -1;
        }
    }
}

void RunInThisProcess(PairRun& pair, AtomicFile* output) {
    const std::uint64_t start = QueryCounterTicks();
    InProcessHost host(pair);
    CaptureLogMessages(&pair.printed);
    pair.status = CompareImages(pair.comparison, output, host);
    CaptureLogMessages(nullptr);
    pair.milliseconds = ElapsedMs(QueryCounterTicks(), start);
}

class SharedMemory {
public:
    explicit SharedMemory(std::size_t bytes) : size(bytes), memory(MapSharedMemory(bytes)) {}
    ~SharedMemory() { UnmapSharedMemory(memory, size); }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    SharedState* Slot(std::size_t i) const { return static_cast<SharedState*>(memory) + i; }
    bool Mapped() const { return memory != nullptr; }

private:
    std::size_t size;
    void* memory;
};

}  // namespace

void RunPairs(std::vector<PairRun>& pairs, unsigned parallel, const RunLimits& limits,
              const std::function<void(PairRun&)>& finished) {
    const std::size_t slots = std::max<std::size_t>(1, std::min<std::size_t>(parallel, pairs.size()));
    SharedMemory memory(sizeof(SharedState) * slots);
    std::vector<SharedState*> freeSlots;
    for (std::size_t i = 0; memory.Mapped() && i < slots; ++i) {
        freeSlots.push_back(new (memory.Slot(i)) SharedState{});
    }

    std::vector<bool> done(pairs.size(), false);
    std::size_t nextToStart = 0;
    std::size_t nextToReport = 0;
    std::vector<std::unique_ptr<Running>> running;
    const std::uint64_t timeoutTicks = std::uint64_t{limits.timeoutSeconds} * QueryCounterFrequency();

    for (;;) {
        while (nextToStart < pairs.size()) {
            const std::size_t index = nextToStart;
            PairRun& pair = pairs[index];
            if (pair.skip) {
                done[index] = true;
                ++nextToStart;
                continue;
            }
            if (running.size() >= slots) {
                break;
            }
            ++nextToStart;
            // Made by this process, so that it can always remove what a
            // worker leaves half written.
            auto output = pair.comparison.diffPath != nullptr
                              ? std::make_unique<AtomicFile>(pair.comparison.diffPath)
                              : nullptr;
            auto run = std::make_unique<Running>();
            if (!freeSlots.empty()) {
                run->index = index;
                run->output = std::move(output);
                run->shared = freeSlots.back();
                run->job = WorkerJob{&pair.comparison, &limits, run->output.get(), run->shared, false};
                run->startTicks = QueryCounterTicks();
                run->deadline = timeoutTicks == 0 ? 0 : run->startTicks + timeoutTicks;
                if (Start(*run)) {
                    freeSlots.pop_back();
                    running.push_back(std::move(run));
                    continue;
                }
                output = std::move(run->output);
            }
            RunInThisProcess(pair, output.get());
            done[index] = true;
        }
        while (nextToReport < pairs.size() && done[nextToReport]) {
            finished(pairs[nextToReport++]);
        }
        if (running.empty()) {
            if (nextToStart >= pairs.size()) {
                return;
            }
            continue;
        }

        std::vector<int> descriptors;
        int timeout = -1;
        for (const auto& run : running) {
            descriptors.push_back(run->process.output);
            descriptors.push_back(run->process.control);
            if (!run->timedOut) {
                const int left = MillisecondsLeft(run->deadline);
                timeout = left >= 0 && (timeout < 0 || left < timeout) ? left : timeout;
            }
        }
        const std::unique_ptr<bool[]> ready(new bool[descriptors.size()]());
        WaitForInput(descriptors.data(), ready.get(), static_cast<int>(descriptors.size()), timeout);
        for (std::size_t i = 0; i < running.size(); ++i) {
            Running& run = *running[i];
            Serve(run, ready[2 * i], ready[2 * i + 1]);
            if (!run.timedOut && run.deadline != 0 && QueryCounterTicks() >= run.deadline) {
                // Its pipes reach their ends once it is gone.
                KillWorker(run.process);
                run.timedOut = true;
            }
        }

        for (auto it = running.begin(); it != running.end();) {
            Running& run = **it;
            if (run.process.output >= 0 || run.process.control >= 0) {
                ++it;
                continue;
            }
            const WorkerEnd end = WaitForWorker(run.process);
            if (!run.timedOut && end.exited && end.status == kExitNeedsLibrary && !run.job.preloadLibrary) {
                run.job.preloadLibrary = true;
                if (Start(run)) {
                    ++it;
                    continue;
                }
            }
            PairRun& pair = pairs[run.index];
            const bool answered = !run.timedOut && end.exited &&
                                  (end.status == kExitIdentical || end.status == kExitDifferent ||
                                   end.status == kExitFailed);
            pair.printed = std::move(run.printed);
            if (answered) {
                pair.status = end.status == kExitIdentical   ? PairStatus::Identical
                              : end.status == kExitDifferent ? PairStatus::Different
                                                             : PairStatus::Failed;
            } else if (static_cast<RunStep>(run.shared->step.load()) == RunStep::Finished) {
                // Its difference picture is in place: only its last words
                // are missing.
                pair.status = PairStatus::Different;
            } else {
                pair.status = PairStatus::Failed;
                pair.printed += Unfinished(pair.comparison, *run.shared, run.timedOut,
                                           limits.timeoutSeconds);
            }
            pair.measured = answered && run.shared->measured.load();
            if (pair.measured) {
                pair.facts = run.shared->facts;
            }
            pair.milliseconds = ElapsedMs(QueryCounterTicks(), run.startTicks);
            done[run.index] = true;
            freeSlots.push_back(run.shared);
            it = running.erase(it);
        }
    }
}
