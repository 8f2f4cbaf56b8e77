#include "run/worker.h"

#include <cstdlib>
#include <memory>

#include "image/freeimage_library.h"
#include "platform/platform.h"
#include "run/worker_protocol.h"

namespace {

[[noreturn]] void ExitForLibrary() { std::_Exit(kExitNeedsLibrary); }

class WorkerHost : public RunHost {
public:
    WorkerHost(int controlSocket, bool preload) : control(controlSocket), preloadLibrary(preload) {}

    void InputsOpen(bool libraryNeeded) override {
        // The library opens its own files when it is loaded: now or never.
        // (A member first: UndefinedBehaviorSanitizer checks this object's
        // type at its first member access, in a way the sandbox refuses.)
        if (preloadLibrary || libraryNeeded) {
            PreloadFreeImage();
        }
        if (EnterSandbox() && !FreeImageLoaded()) {
            ForbidLoadingFreeImage(ExitForLibrary);
        }
    }

    bool PlaceOutput(AtomicFile&) override { return Ask(&kPlaceOutput, 1); }

    bool PlaceReportPictures(unsigned written) override {
        const char request[2] = {kPlaceReportPictures, static_cast<char>(written)};
        return Ask(request, sizeof request);
    }

private:
    // Sends a request and waits for the parent's answer.
    bool Ask(const char* request, std::size_t size) {
        char answer = kNotPlaced;
        return WriteAll(control, request, size) && ReadSome(control, &answer, 1) == 1 && answer == kPlaced;
    }

    int control;
    bool preloadLibrary;
};

// The processor time a pair may take, a little above the parent's timeout,
// for when the parent can no longer enforce that (stopped, or a worker
// detached); 0: no limit.
std::uint64_t ProcessorSecondsFor(const RunLimits& limits) {
    return limits.timeoutSeconds == 0 ? 0 : std::uint64_t{limits.timeoutSeconds} * 11 / 10 + 2;
}

// What every worker does first: its signals, outputs and address space.
void SetUpWorker(const RunLimits& limits) {
    // Interrupted, a worker simply ends: its parent cleans up.
    DefaultTerminationSignals();
    // Whatever a library prints would mix with the parent's output (a JSON
    // stream, say): the worker's answer is its record alone.
    DiscardStandardOutput();
#if !GLIMRA_SANITIZED
    // What a dying library or the C library's heap checks have to say goes
    // nowhere: the parent tells how the worker ended. A sanitizer's report
    // must stay visible.
    DiscardStandardError();
#endif
#if !GLIMRA_UNDER_ASAN
    // AddressSanitizer reserves terabytes of shadow memory at start; no
    // limit below that leaves it working.
    if (limits.maxMemoryBytes != 0) {
        LimitAddressSpace(limits.maxMemoryBytes);
    }
#else
    (void)limits;
#endif
}

// One pair of a serving worker: its files as sent, the outputs among them
// wrapped as files that the parent puts in place.
class ServedPair : public WorkerHost {
public:
    ServedPair(int controlSocket, unsigned sent, const int* descriptors, int count)
        : WorkerHost(controlSocket, false) {
        int next = 0;
        for (unsigned which = 0; which < kServedFiles; ++which) {
            if ((sent & (1u << which)) == 0 || next >= count) {
                continue;
            }
            const int descriptor = descriptors[next++];
            if (which < kServedDifference) {
                inputs[which] = PictureFile(OpenDescriptor(descriptor, "rb"));
                continue;
            }
            auto file = std::make_unique<AtomicFile>(OpenDescriptor(descriptor, "wb"));
            if (which == kServedDifference) {
                outputs.difference = file.get();
            } else {
                outputs.report[which - kServedReport] = file.get();
            }
            writtenFiles[which - kServedDifference] = std::move(file);
        }
        // Files beyond those the message names are not ours to keep.
        for (; next < count; ++next) {
            CloseDescriptor(descriptors[next]);
        }
    }

    void InputsOpen(bool) override {}
    PictureFile OpenInput(int side, const char*) override { return std::move(inputs[side]); }
    RunOutputs& Outputs() { return outputs; }

private:
    PictureFile inputs[2];
    std::unique_ptr<AtomicFile> writtenFiles[kServedFiles - kServedDifference];
    RunOutputs outputs;
};

}  // namespace

int WorkerMain(int control, void* context) {
    const WorkerJob& job = *static_cast<const WorkerJob*>(context);
    if (const std::uint64_t seconds = ProcessorSecondsFor(*job.limits)) {
        LimitProcessorTime(seconds);
    }
    SetUpWorker(*job.limits);
    WorkerHost host(control, job.preloadLibrary);
    CompareImages(*job.comparison, *job.outputs, host, *job.record);
    return kExitAnswered;
}

int ServeMain(int control, void* context) {
    const ServeJob& job = *static_cast<const ServeJob*>(context);
    SetUpWorker(*job.limits);
    ForbidFreeImage(ExitForLibrary);
    {
        // UndefinedBehaviorSanitizer looks up a class's type at the first
        // access through it, in a way the sandbox refuses: first here.
        ServedPair none(control, 0, nullptr, 0);
        none.Outputs();
    }
    EnterSandbox();
    for (;;) {
        char message[kPairMessageSize];
        int descriptors[kMaxSentFiles];
        int count = 0;
        const long got = ReceiveWithFiles(control, message, sizeof message, descriptors, count);
        // The parent is done with this worker, or gone.
        if (got != static_cast<long>(sizeof message) || message[0] != kRunPair ||
            PairIndexOf(message) >= job.comparisons->size()) {
            return kExitAnswered;
        }
        if (const std::uint64_t seconds = ProcessorSecondsFor(*job.limits)) {
            LimitProcessorTimeFromNow(seconds);
        }
        {
            ServedPair pair(control, static_cast<unsigned char>(message[1]), descriptors, count);
            CompareImages(*(*job.comparisons)[PairIndexOf(message)], pair.Outputs(), pair, *job.record);
        }
        if (!WriteAll(control, &kAnswered, 1)) {
            return kExitAnswered;
        }
    }
}
