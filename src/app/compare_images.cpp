#include "app/compare_images.h"

#include "app/same_bytes.h"
#include "app/scoped_timer.h"
#include "common/log.h"
#include "image/image_file.h"
#include "image/own_readers.h"
#include "platform/platform.h"

PairStatus CompareImages(const Comparison& comparison, AtomicFile* output, RunHost& host) {
    Image* a = nullptr;
    Image* b = nullptr;
    Image* diff = nullptr;
    bool identical = false;
    bool failed = false;
    try {
        {
            ScopedTimer timer("Load source images");
            host.Reached(RunStep::LoadingA, timer.StartTicks());
            const PictureFile fileA = OpenPictureFile(comparison.pathA);
            host.Reached(RunStep::LoadingB, timer.StartTicks());
            const PictureFile fileB = OpenPictureFile(comparison.pathB);
            // The same bytes decode to the same pixels: B is A, and every
            // message, timer line and answer stays what two loads give.
            const bool sameBytes = FilesHaveSameBytes(fileA.get(), fileB.get());
            const bool libraryNeeded = comparison.diffPath != nullptr ||
                                       fileA == nullptr || !LooksLikeOwnFormat(fileA.get()) ||
                                       (!sameBytes && (fileB == nullptr || !LooksLikeOwnFormat(fileB.get())));
            host.InputsOpen(libraryNeeded);

            host.Reached(RunStep::LoadingA, timer.StartTicks());
            a = LoadImageFile(comparison.pathA, fileA.get(), comparison.maxPixels);
            host.Reached(RunStep::LoadingB, timer.StartTicks());
            b = sameBytes ? a : LoadImageFile(comparison.pathB, fileB.get(), comparison.maxPixels);
            // glibc raises its mapping threshold once the first library
            // frame is freed, so the second one came from the heap and stays
            // there when freed: hand it back before the difference picture
            // adds to the peak.
            if (comparison.diffPath != nullptr) {
                ReleaseFreeHeapMemory();
            }
        }
        if (!SameDimensions(a, b)) {
            LogMessage("Dimensions of the images don't match!");
            throw FatalError{};
        }
        {
            ScopedTimer timer("Perform diff");
            host.Reached(RunStep::Comparing, timer.StartTicks());
            // Without a place to write it, the difference picture is never
            // made: the decision alone needs no third frame.
            if (comparison.diffPath != nullptr) {
                diff = CreateDiffImage(a, b, comparison.mode);
                identical = diff == nullptr;
            } else {
                identical = !ImagesDiffer(a, b);
            }
            if (comparison.measure) {
                PairFacts facts{a->width, a->height, DiffStats{}};
                if (!identical) {
                    facts.stats = MeasureDifference(a, b);
                }
                host.Measured(facts);
            }
            if (g_verbose) {
                LogMessage(identical ? "Images are identical" : "Images differ");
            }
        }
        if (diff != nullptr) {
            ScopedTimer timer("Save diff image");
            host.Reached(RunStep::Saving, timer.StartTicks());
            SaveImageFile(diff, comparison.diffPath, *output);
            if (!host.PlaceOutput(*output)) {
                LogMessage("Failed to save %s", comparison.diffPath);
                throw FatalError{};
            }
        }
    } catch (const FatalError&) {
        // The thrower has printed the reason.
        failed = true;
    }
    DestroyImage(a);
    if (b != a) {
        DestroyImage(b);
    }
    DestroyImage(diff);
    return failed ? PairStatus::Failed : identical ? PairStatus::Identical : PairStatus::Different;
}
