#include "run/worker_pool.h"

#include <algorithm>
#include <memory>
#include <new>

#include "common/leftovers.h"
#include "image/freeimage_library.h"
#include "platform/platform.h"
#include "run/scoped_timer.h"
#include "run/worker.h"
#include "run/worker_protocol.h"

namespace {

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

// Completes the record of a worker that ended without its answer: the
// phase it was in ends now, and unless its difference picture is already
// in place, it failed where it was.
void CloseUnfinished(RunRecord& record, Failure failure, unsigned timeoutSeconds) {
    for (PhaseTime& time : record.phases) {
        if (time.started && !time.ended) {
            time.milliseconds = ElapsedMs(QueryCounterTicks(), record.phaseStartTicks);
            time.ended = true;
        }
    }
    // Facts written by a run that did not end are not trusted.
    record.measured = false;
    if (!record.outputPlaced) {
        record.failure = FatalError{failure, 0, 0, timeoutSeconds};
        record.failedAt = record.step;
    }
}

// The files a pair's run writes into, made by this process, so that it
// can always remove what a worker leaves half written.
class OutputFiles {
public:
    explicit OutputFiles(const Comparison& comparison) {
        if (comparison.diffPath != nullptr) {
            difference = std::make_unique<AtomicFile>(comparison.diffPath);
            view.difference = difference.get();
        }
        for (unsigned i = 0; i < kReportPictures; ++i) {
            if (comparison.reportPictures[i] != nullptr) {
                report[i] = std::make_unique<AtomicFile>(comparison.reportPictures[i]);
                view.report[i] = report[i].get();
            }
        }
    }

    RunOutputs& View() { return view; }

    // `elsewhere`: a worker wrote and synced the files.
    bool PlaceDifference(RunRecord& record, bool elsewhere) {
        record.outputPlaced = difference != nullptr && Place(*difference, elsewhere);
        return record.outputPlaced;
    }

    // Puts the report pictures in `written` in place; true when all were.
    bool PlaceReport(unsigned written, RunRecord& record, bool elsewhere) {
        for (unsigned i = 0; i < kReportPictures; ++i) {
            if ((written & (1u << i)) != 0 && report[i] != nullptr && Place(*report[i], elsewhere)) {
                record.reportPicturesPlaced = static_cast<std::uint8_t>(record.reportPicturesPlaced | 1u << i);
            }
        }
        return record.reportPicturesPlaced == written;
    }

private:
    static bool Place(AtomicFile& file, bool elsewhere) {
        return elsewhere ? file.CommitWrittenElsewhere() : file.Commit();
    }

    std::unique_ptr<AtomicFile> difference;
    std::unique_ptr<AtomicFile> report[kReportPictures];
    RunOutputs view;
};

// The run in this process, where the system has no workers.
class InProcessHost : public RunHost {
public:
    InProcessHost(OutputFiles& outputFiles, RunRecord& runRecord) : files(outputFiles), record(runRecord) {}
    void InputsOpen(bool) override {}
    bool PlaceOutput(AtomicFile&) override { return files.PlaceDifference(record, false); }
    bool PlaceReportPictures(unsigned written) override { return files.PlaceReport(written, record, false); }

private:
    OutputFiles& files;
    RunRecord& record;
};

class SharedRecords {
public:
    explicit SharedRecords(std::size_t count)
        : size(sizeof(RunRecord) * count), memory(MapSharedMemory(size)) {}
    ~SharedRecords() { UnmapSharedMemory(memory, size); }
    SharedRecords(const SharedRecords&) = delete;
    SharedRecords& operator=(const SharedRecords&) = delete;

    RunRecord* Slot(std::size_t i) const {
        return memory == nullptr ? nullptr : new (static_cast<RunRecord*>(memory) + i) RunRecord{};
    }

private:
    std::size_t size;
    void* memory;
};

// A pair in the hands of a worker.
struct Running {
    std::size_t index = 0;
    std::unique_ptr<OutputFiles> files;
    RunRecord* record = nullptr;  // its slot of the shared records
    WorkerJob job{};
    WorkerProcess process;
    std::uint64_t startTicks = 0;
    std::uint64_t deadline = 0;
    bool timedOut = false;
};

class Pool {
public:
    Pool(std::vector<PairRun>& runs, unsigned parallel, const RunLimits& runLimits);

    // Starts pairs until every slot is busy; skipped pairs are done at once.
    void StartWhatFits();
    // Hands on each pair that is done and all before it are.
    void ReportInOrder(const std::function<void(std::size_t)>& finished);
    bool AllDone() const { return nextToReport == pairs.size(); }
    // Waits until a worker asks for something, ends, or runs out of time.
    void WaitForWorkers();
    // Collects the workers that have ended.
    void ReapEnded();

private:
    bool Start(Running& run);
    void RunHere(std::size_t index, OutputFiles& files);
    void Serve(Running& run);
    // False when the worker was started again.
    bool Reap(Running& run);

    std::vector<PairRun>& pairs;
    const RunLimits& limits;
    std::size_t slots;
    SharedRecords records;
    std::vector<RunRecord*> freeRecords;
    std::vector<bool> done;
    std::size_t nextToStart = 0;
    std::size_t nextToReport = 0;
    std::vector<std::unique_ptr<Running>> running;
};

Pool::Pool(std::vector<PairRun>& runs, unsigned parallel, const RunLimits& runLimits)
    : pairs(runs),
      limits(runLimits),
      slots(std::max<std::size_t>(1, std::min<std::size_t>(parallel, runs.size()))),
      records(slots),
      done(runs.size(), false) {
    for (std::size_t i = 0; i < slots; ++i) {
        if (RunRecord* slot = records.Slot(i)) {
            freeRecords.push_back(slot);
        }
    }
    // Loaded once here, every worker has the picture library without paying
    // for its start-up again; but a bigger process is slower to copy, so
    // only when some pair needs it, and a single worker loads it itself.
    const auto compared = std::count_if(pairs.begin(), pairs.end(), [](const PairRun& pair) { return !pair.skip; });
    const bool libraryNeeded = std::any_of(pairs.begin(), pairs.end(), [](const PairRun& pair) {
        return !pair.skip && pair.needsLibrary;
    });
    if (compared > 1 && libraryNeeded) {
        PreloadFreeImage();
    }
}

bool Pool::Start(Running& run) {
    *run.record = RunRecord{};
    // Until the worker starts its first phase, it is loading.
    run.record->phaseStartTicks = QueryCounterTicks();
    run.record->Time(Phase::Load).started = true;
    run.timedOut = false;
    if (!StartWorker(run.process, WorkerMain, &run.job)) {
        return false;
    }
    RegisterWorker(run.process.id);
    return true;
}

void Pool::RunHere(std::size_t index, OutputFiles& files) {
    PairRun& pair = pairs[index];
    const std::uint64_t start = QueryCounterTicks();
    InProcessHost host(files, pair.record);
    CompareImages(pair.comparison, files.View(), host, pair.record);
    pair.milliseconds = ElapsedMs(QueryCounterTicks(), start);
    done[index] = true;
}

void Pool::StartWhatFits() {
    const std::uint64_t timeoutTicks = std::uint64_t{limits.timeoutSeconds} * QueryCounterFrequency();
    while (nextToStart < pairs.size()) {
        const std::size_t index = nextToStart;
        PairRun& pair = pairs[index];
        if (pair.skip) {
            done[index] = true;
            ++nextToStart;
            continue;
        }
        if (running.size() >= slots) {
            return;
        }
        ++nextToStart;
        auto files = std::make_unique<OutputFiles>(pair.comparison);
        if (freeRecords.empty()) {
            RunHere(index, *files);
            continue;
        }
        auto run = std::make_unique<Running>();
        run->index = index;
        run->files = std::move(files);
        run->record = freeRecords.back();
        run->job = WorkerJob{&pair.comparison, &limits, &run->files->View(), run->record, false};
        run->startTicks = QueryCounterTicks();
        run->deadline = timeoutTicks == 0 ? 0 : run->startTicks + timeoutTicks;
        if (Start(*run)) {
            freeRecords.pop_back();
            running.push_back(std::move(run));
        } else {
            RunHere(index, *run->files);
        }
    }
}

void Pool::ReportInOrder(const std::function<void(std::size_t)>& finished) {
    while (nextToReport < pairs.size() && done[nextToReport]) {
        finished(nextToReport++);
    }
}

// Answers the worker's requests to put its files in place; marks the
// socket closed (-1) at its end. The worker waits for each answer: the
// record is ours meanwhile.
void Pool::Serve(Running& run) {
    char request = 0;
    unsigned char written = 0;
    bool placed = false;
    if (ReadSome(run.process.control, &request, 1) != 1) {
        CloseDescriptor(run.process.control);
        run.process.control = -1;
        return;
    }
    if (request == kPlaceOutput) {
        placed = run.files->PlaceDifference(*run.record, true);
    } else if (request == kPlaceReportPictures && ReadSome(run.process.control, &written, 1) == 1) {
        placed = run.files->PlaceReport(written, *run.record, true);
    }
    WriteAll(run.process.control, placed ? &kPlaced : &kNotPlaced, 1);
}

void Pool::WaitForWorkers() {
    std::vector<int> descriptors;
    int timeout = -1;
    for (const auto& run : running) {
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
        if (ready[i]) {
            Serve(run);
        }
        if (!run.timedOut && run.deadline != 0 && QueryCounterTicks() >= run.deadline) {
            // Its socket reaches its end once it is gone.
            KillWorker(run.process.id);
            run.timedOut = true;
        }
    }
}

bool Pool::Reap(Running& run) {
    const WorkerEnd end = WaitForWorker(run.process);
    UnregisterWorker(run.process.id);
    if (!run.timedOut && end.exited && end.status == kExitNeedsLibrary && !run.job.preloadLibrary) {
        run.job.preloadLibrary = true;
        if (Start(run)) {
            return false;
        }
    }
    PairRun& pair = pairs[run.index];
    pair.record = *run.record;
    const bool answered = !run.timedOut && end.exited && end.status == kExitAnswered &&
                          pair.record.answered;
    if (!answered) {
        CloseUnfinished(pair.record, run.timedOut ? Failure::TimedOut : Failure::WorkerDied,
                        limits.timeoutSeconds);
    }
    pair.milliseconds = ElapsedMs(QueryCounterTicks(), run.startTicks);
    done[run.index] = true;
    freeRecords.push_back(run.record);
    return true;
}

void Pool::ReapEnded() {
    for (auto it = running.begin(); it != running.end();) {
        if ((*it)->process.control >= 0 || !Reap(**it)) {
            ++it;
        } else {
            it = running.erase(it);
        }
    }
}

}  // namespace

void RunPairs(std::vector<PairRun>& pairs, unsigned parallel, const RunLimits& limits,
              const std::function<void(std::size_t)>& finished) {
    Pool pool(pairs, parallel, limits);
    for (;;) {
        pool.StartWhatFits();
        pool.ReportInOrder(finished);
        if (pool.AllDone()) {
            return;
        }
        pool.WaitForWorkers();
        pool.ReapEnded();
    }
}
