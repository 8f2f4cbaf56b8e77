#include "run/worker.h"

#include <cstdio>
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
    // An output the comparison asks for but whose file the parent could
    // not make is there without a stream, and fails as it would anywhere.
    ServedPair(int controlSocket, const Comparison* comparison, unsigned sent, const int* descriptors, int count)
        : WorkerHost(controlSocket, false) {
        int next = 0;
        std::FILE* files[kServedFiles] = {};
        for (unsigned which = 0; which < kServedFiles; ++which) {
            if ((sent & (1u << which)) != 0 && next < count) {
                files[which] = OpenDescriptor(descriptors[next++], which < kServedDifference ? "rb" : "wb");
            }
        }
        // Files beyond those the message names are not ours to keep.
        for (; next < count; ++next) {
            CloseDescriptor(descriptors[next]);
        }
        inputs[0] = PictureFile(files[kServedA]);
        inputs[1] = PictureFile(files[kServedB]);
        for (unsigned which = kServedDifference; which < kServedFiles; ++which) {
            const bool asked = comparison != nullptr && (which == kServedDifference
                                                             ? comparison->diffPath != nullptr
                                                             : comparison->reportPictures[which - kServedReport] != nullptr);
            if (!asked) {
                if (files[which] != nullptr) {
                    std::fclose(files[which]);
                }
                continue;
            }
            auto file = std::make_unique<AtomicFile>(files[which]);
            (which == kServedDifference ? outputs.difference : outputs.report[which - kServedReport]) = file.get();
            writtenFiles[which - kServedDifference] = std::move(file);
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

// What a serving worker's heap keeps of one pair's memory for the next:
// the bands, windows and inflaters of a pair of pictures of the width of
// a large screenshot, so that each pair does not fault them in afresh.
constexpr std::size_t kKeptHeapBytes = std::size_t{32} << 20;

int ServeMain(int control, void* context) {
    const ServeJob& job = *static_cast<const ServeJob*>(context);
    SetUpWorker(*job.limits);
    KeepFreedHeapMemory(kKeptHeapBytes);
    ForbidFreeImage(ExitForLibrary);
    {
        // UndefinedBehaviorSanitizer checks an object's type at the first
        // call through each of its classes, in a way the sandbox refuses:
        // every such call once here, on a socket that is none.
        ServedPair none(-1, nullptr, 0, nullptr, 0);
        RunHost& host = none;
        host.InputsOpen(false);
        host.OpenInput(0, nullptr);
        AtomicFile nothing(static_cast<std::FILE*>(nullptr));
        host.PlaceOutput(nothing);
        host.PlaceReportPictures(0);
    }
    EnterSandbox();
    for (;;) {
        char message[kPairMessageSize];
        int descriptors[kMaxSentFiles];
        int count = 0;
        const long got = ReceiveWithFiles(control, message, sizeof message, descriptors, count);
        // The parent is done with this worker, or gone.
        if (got != static_cast<long>(sizeof message) || message[0] != kRunPair) {
            return kExitAnswered;
        }
        if (const std::uint64_t seconds = ProcessorSecondsFor(*job.limits)) {
            LimitProcessorTimeFromNow(seconds);
        }
        {
            const Comparison comparison = FromWire(*job.wire);
            ServedPair pair(control, &comparison, static_cast<unsigned char>(message[1]), descriptors, count);
            CompareImages(comparison, pair.Outputs(), pair, *job.record);
        }
        if (!WriteAll(control, &kAnswered, 1)) {
            return kExitAnswered;
        }
    }
}
