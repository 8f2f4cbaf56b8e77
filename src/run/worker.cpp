#include "run/worker.h"

#include <cstdlib>

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

}  // namespace

int WorkerMain(int control, void* context) {
    const WorkerJob& job = *static_cast<const WorkerJob*>(context);
    // Interrupted, a worker simply ends: its parent cleans up.
    DefaultTerminationSignals();
    // Its own limit, a little above the parent's timeout, for when the
    // parent can no longer enforce that (stopped, or a worker detached).
    if (job.limits->timeoutSeconds != 0) {
        LimitProcessorTime(std::uint64_t{job.limits->timeoutSeconds} * 11 / 10 + 2);
    }
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
    if (job.limits->maxMemoryBytes != 0) {
        LimitAddressSpace(job.limits->maxMemoryBytes);
    }
#endif
    WorkerHost host(control, job.preloadLibrary);
    CompareImages(*job.comparison, *job.outputs, host, *job.record);
    return kExitAnswered;
}
