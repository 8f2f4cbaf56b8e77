#include "run/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "common/leftovers.h"
#include "image/freeimage_library.h"
#include "platform/platform.h"
#include "run/run_messages.h"
#include "run/scoped_timer.h"
#include "image/image_file.h"
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

// What a slot shares with its worker: the record of the pair in hand and
// its comparison.
struct SharedSlot {
    RunRecord record;
    WireComparison wire;
};

class SharedSlots {
public:
    explicit SharedSlots(std::size_t count)
        : size(sizeof(SharedSlot) * count), memory(MapSharedMemory(size)) {}
    ~SharedSlots() { UnmapSharedMemory(memory, size); }
    SharedSlots(const SharedSlots&) = delete;
    SharedSlots& operator=(const SharedSlots&) = delete;

    SharedSlot* Slot(std::size_t i) const {
        return memory == nullptr ? nullptr : new (static_cast<SharedSlot*>(memory) + i) SharedSlot{};
    }

private:
    std::size_t size;
    void* memory;
};

// One of the places a pair runs in, as many as pairs may run at once: its
// record in the shared memory, its worker (a serving one that stays for
// pair after pair, or one for a single pair) and the pair in hand.
struct Slot {
    RunRecord* record = nullptr;
    WireComparison* wire = nullptr;
    WorkerProcess process;  // id -1: none
    bool serving = false;
    std::size_t answered = 0;  // pairs the serving worker has answered
    ServeJob serveJob{};
    WorkerJob job{};  // for a single pair's worker

    bool busy = false;
    std::size_t index = 0;
    std::unique_ptr<OutputFiles> files;
    std::uint64_t startTicks = 0;
    std::uint64_t deadline = 0;
    bool timedOut = false;

    bool HasWorker() const { return process.id >= 0; }
    // A new pair's record: until its worker starts a phase, it is loading.
    void ClearRecord() {
        *record = RunRecord{};
        record->phaseStartTicks = QueryCounterTicks();
        record->Time(Phase::Load).started = true;
        timedOut = false;
    }
};

static_assert(kServedFiles <= kMaxSentFiles, "a pair's files go in one message");

}  // namespace

// The slots, their shared memory and their workers; serving workers stay
// until the crew goes.
struct PairCrew::Members {
    explicit Members(std::size_t count) : shared(count), slots(count) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            SharedSlot* slot = shared.Slot(i);
            slots[i].record = slot == nullptr ? nullptr : &slot->record;
            slots[i].wire = slot == nullptr ? nullptr : &slot->wire;
        }
    }
    SharedSlots shared;
    std::vector<Slot> slots;
};

namespace {

class Pool {
public:
    Pool(std::vector<PairRun>& runs, PairCrew::Members& crew, bool keepServing, const RunLimits& runLimits);

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
    void Begin(Slot& slot, std::size_t index);
    bool SendToServer(Slot& slot, PictureFile inputs[2]);
    bool StartServer(Slot& slot);
    bool StartSingle(Slot& slot, bool preloadLibrary);
    void RunHere(Slot& slot);
    void Serve(Slot& slot);
    void Reap(Slot& slot);
    void Finish(Slot& slot);

    std::vector<PairRun>& pairs;
    const RunLimits& limits;
    bool limitedHere = false;  // --max-memory applies to this process
    std::vector<Slot>& slots;
    std::vector<bool> done;
    std::size_t nextToStart = 0;
    std::size_t nextToReport = 0;
    // Serving workers pay off from the second pair on; a run of one keeps
    // the worker that opens its own files, a few calls cheaper.
    bool serve = false;
};

Pool::Pool(std::vector<PairRun>& runs, PairCrew::Members& crew, bool keepServing, const RunLimits& runLimits)
    : pairs(runs), limits(runLimits), slots(crew.slots), done(runs.size(), false) {
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
    serve = keepServing || compared > 1;
}

// Serving workers wait for their next pair until they are stopped.
void StopWorker(Slot& slot) {
    if (!slot.HasWorker()) {
        return;
    }
    KillWorker(slot.process.id);
    WaitForWorker(slot.process);
    UnregisterWorker(slot.process.id);
    if (slot.process.control >= 0) {
        CloseDescriptor(slot.process.control);
    }
    slot.process = WorkerProcess{};
    slot.serving = false;
}

void Pool::StartWhatFits() {
    while (nextToStart < pairs.size()) {
        const std::size_t index = nextToStart;
        if (pairs[index].skip) {
            done[index] = true;
            ++nextToStart;
            continue;
        }
        const auto idle = std::find_if(slots.begin(), slots.end(), [](const Slot& slot) { return !slot.busy; });
        if (idle == slots.end()) {
            return;
        }
        ++nextToStart;
        Begin(*idle, index);
    }
}

// A pair that only our own readers read goes to a serving worker; one that
// needs the picture library gets a worker of its own.
void Pool::Begin(Slot& slot, std::size_t index) {
    const Comparison& comparison = pairs[index].comparison;
    slot.busy = true;
    slot.index = index;
    slot.files = std::make_unique<OutputFiles>(comparison);
    slot.startTicks = QueryCounterTicks();
    const std::uint64_t timeoutTicks = std::uint64_t{limits.timeoutSeconds} * QueryCounterFrequency();
    slot.deadline = timeoutTicks == 0 ? 0 : slot.startTicks + timeoutTicks;
    if (slot.record == nullptr) {
        RunHere(slot);
        return;
    }
    if (!serve) {
        if (!StartSingle(slot, false)) {
            RunHere(slot);
        }
        return;
    }
    // Anything but two regular files (one missing, a pipe) goes the way of
    // a single worker, which opens them itself and fails as it always has.
    PictureFile inputs[2] = {PictureFile(OpenRegularFile(comparison.pathA)),
                             PictureFile(OpenRegularFile(comparison.pathB))};
    const bool ownReaders = inputs[0] != nullptr && inputs[1] != nullptr &&
                            !NeedsPictureLibrary(inputs[0].get(), comparison.diffPath) &&
                            !NeedsPictureLibrary(inputs[1].get(), nullptr);
    if (ownReaders && SendToServer(slot, inputs)) {
        return;
    }
    if (slot.serving) {
        StopWorker(slot);
    }
    if (!StartSingle(slot, false)) {
        RunHere(slot);
    }
}

bool Pool::SendToServer(Slot& slot, PictureFile inputs[2]) {
    if (!ToWire(pairs[slot.index].comparison, *slot.wire) || (!slot.HasWorker() && !StartServer(slot))) {
        return false;
    }
    slot.ClearRecord();
    const RunOutputs& outputs = slot.files->View();
    std::FILE* files[kServedFiles] = {inputs[0].get(), inputs[1].get(),
                                      outputs.difference != nullptr ? outputs.difference->Stream() : nullptr};
    unsigned sent = 0;
    for (unsigned which = 0; which < kReportPictures; ++which) {
        files[kServedReport + which] = outputs.report[which] != nullptr ? outputs.report[which]->Stream() : nullptr;
    }
    for (unsigned which = 0; which < kServedFiles; ++which) {
        sent |= files[which] != nullptr ? 1u << which : 0;
    }
    char message[kPairMessageSize];
    PutPairMessage(message, sent, slot.index);
    if (!SendWithFiles(slot.process.control, message, sizeof message, files, kServedFiles)) {
        StopWorker(slot);
        return false;
    }
    return true;
}

bool Pool::StartServer(Slot& slot) {
    slot.serveJob = ServeJob{&limits, slot.record, slot.wire};
    if (!StartWorker(slot.process, ServeMain, &slot.serveJob)) {
        slot.process = WorkerProcess{};
        return false;
    }
    RegisterWorker(slot.process.id);
    slot.serving = true;
    slot.answered = 0;
    return true;
}

bool Pool::StartSingle(Slot& slot, bool preloadLibrary) {
    slot.ClearRecord();
    slot.job = WorkerJob{&pairs[slot.index].comparison, &limits, &slot.files->View(), slot.record, preloadLibrary};
    if (!StartWorker(slot.process, WorkerMain, &slot.job)) {
        slot.process = WorkerProcess{};
        return false;
    }
    RegisterWorker(slot.process.id);
    slot.serving = false;
    return true;
}

// Where a pair runs in this process (Windows, or no worker could be
// started), nothing can stop its work but the end of the process: a pair
// that outlasts --timeout ends the run with the message a worker's
// timeout gives, after removing what it was writing.
class Watchdog {
public:
    Watchdog(const PairRun& pairRun, unsigned timeoutSeconds) : pair(pairRun), seconds(timeoutSeconds) {
        if (seconds > 0) {
            thread = std::thread([this] { Watch(); });
        }
    }
    ~Watchdog() {
        if (thread.joinable()) {
            {
                const std::lock_guard<std::mutex> hold(lock);
                done = true;
            }
            changed.notify_all();
            thread.join();
        }
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Watch() {
        std::unique_lock<std::mutex> hold(lock);
        if (changed.wait_for(hold, std::chrono::seconds(seconds), [this] { return done; })) {
            return;
        }
        RunRecord record = pair.record;
        CloseUnfinished(record, Failure::TimedOut, seconds);
        LogMessage("%s", FailureLine(record, pair.comparison).c_str());
        ForEachTemporaryFile(RemoveFile);
        std::fflush(stdout);
        std::_Exit(1);
    }

    const PairRun& pair;
    unsigned seconds;
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    std::thread thread;
};

void Pool::RunHere(Slot& slot) {
    PairRun& pair = pairs[slot.index];
    // --max-memory holds for this process, which does the work.
    if (!limitedHere && limits.maxMemoryBytes > 0) {
        LimitAddressSpace(limits.maxMemoryBytes);
        limitedHere = true;
    }
    InProcessHost host(*slot.files, pair.record);
    {
        const Watchdog watchdog(pair, limits.timeoutSeconds);
        CompareImages(pair.comparison, slot.files->View(), host, pair.record);
    }
    Finish(slot);
}

// The pair in hand is done; its record is the pair's.
void Pool::Finish(Slot& slot) {
    PairRun& pair = pairs[slot.index];
    pair.milliseconds = ElapsedMs(QueryCounterTicks(), slot.startTicks);
    done[slot.index] = true;
    slot.files.reset();
    slot.busy = false;
}

void Pool::ReportInOrder(const std::function<void(std::size_t)>& finished) {
    while (nextToReport < pairs.size() && done[nextToReport]) {
        finished(nextToReport++);
    }
}

// Answers the worker's requests to put its files in place, and takes a
// serving worker's answer; marks the socket closed (-1) at its end. The
// worker waits for each answer: the record is ours meanwhile.
void Pool::Serve(Slot& slot) {
    char request = 0;
    unsigned char written = 0;
    bool placed = false;
    if (ReadSome(slot.process.control, &request, 1) != 1) {
        CloseDescriptor(slot.process.control);
        slot.process.control = -1;
        return;
    }
    if (request == kAnswered && slot.busy && slot.serving) {
        pairs[slot.index].record = *slot.record;
        // Memory a pair's run could not have is no answer while earlier
        // pairs' blocks may fill the worker: a worker of its own says.
        if (slot.record->failure.failure == Failure::OutOfMemory && slot.answered > 0) {
            slot.files = std::make_unique<OutputFiles>(pairs[slot.index].comparison);
            StopWorker(slot);
            if (!StartSingle(slot, false)) {
                RunHere(slot);
            }
            return;
        }
        ++slot.answered;
        Finish(slot);
        return;
    }
    if (request == kPlaceOutput) {
        placed = slot.files->PlaceDifference(*slot.record, true);
    } else if (request == kPlaceReportPictures && ReadSome(slot.process.control, &written, 1) == 1) {
        placed = slot.files->PlaceReport(written, *slot.record, true);
    }
    WriteAll(slot.process.control, placed ? &kPlaced : &kNotPlaced, 1);
}

void Pool::WaitForWorkers() {
    std::vector<int> descriptors;
    std::vector<Slot*> watched;
    int timeout = -1;
    for (Slot& slot : slots) {
        if (!slot.HasWorker() || slot.process.control < 0) {
            continue;
        }
        descriptors.push_back(slot.process.control);
        watched.push_back(&slot);
        if (slot.busy && !slot.timedOut) {
            const int left = MillisecondsLeft(slot.deadline);
            timeout = left >= 0 && (timeout < 0 || left < timeout) ? left : timeout;
        }
    }
    const std::unique_ptr<bool[]> ready(new bool[descriptors.size()]());
    WaitForInput(descriptors.data(), ready.get(), static_cast<int>(descriptors.size()), timeout);
    for (std::size_t i = 0; i < watched.size(); ++i) {
        Slot& slot = *watched[i];
        if (ready[i]) {
            Serve(slot);
        }
        if (slot.busy && !slot.timedOut && slot.deadline != 0 && QueryCounterTicks() >= slot.deadline &&
            slot.HasWorker()) {
            // Its socket reaches its end once it is gone.
            KillWorker(slot.process.id);
            slot.timedOut = true;
        }
    }
}

void Pool::Reap(Slot& slot) {
    const WorkerEnd end = WaitForWorker(slot.process);
    UnregisterWorker(slot.process.id);
    slot.process = WorkerProcess{};
    const bool wasServing = slot.serving;
    slot.serving = false;
    if (!slot.busy) {
        return;
    }
    const bool needsLibrary = !slot.timedOut && end.exited && end.status == kExitNeedsLibrary;
    // A pair our readers declined, or one whose serving worker died after
    // earlier pairs, runs again in a worker of its own, with the library.
    if ((needsLibrary && (wasServing || !slot.job.preloadLibrary)) ||
        (wasServing && !slot.timedOut && slot.answered > 0)) {
        if (wasServing) {
            slot.files = std::make_unique<OutputFiles>(pairs[slot.index].comparison);
        }
        if (StartSingle(slot, needsLibrary)) {
            return;
        }
    }
    PairRun& pair = pairs[slot.index];
    pair.record = *slot.record;
    const bool answered = !slot.timedOut && end.exited && end.status == kExitAnswered && pair.record.answered;
    if (!answered) {
        CloseUnfinished(pair.record, slot.timedOut ? Failure::TimedOut : Failure::WorkerDied, limits.timeoutSeconds);
    }
    Finish(slot);
}

void Pool::ReapEnded() {
    for (Slot& slot : slots) {
        if (slot.HasWorker() && slot.process.control < 0) {
            Reap(slot);
        }
    }
}

}  // namespace

PairCrew::PairCrew(unsigned parallel, bool keepServing)
    : members(std::make_unique<Members>(std::max(1u, parallel))), serving(keepServing) {}

PairCrew::~PairCrew() {
    for (Slot& slot : members->slots) {
        StopWorker(slot);
    }
}

void RunPairs(std::vector<PairRun>& pairs, PairCrew& crew, const RunLimits& limits,
              const std::function<void(std::size_t)>& finished) {
    Pool pool(pairs, *crew.members, crew.serving, limits);
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
