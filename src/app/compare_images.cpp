#include "app/compare_images.h"

#include "app/same_bytes.h"
#include "app/scoped_timer.h"
#include "common/log.h"
#include "image/image_file.h"
#include "platform/platform.h"

bool CompareImages(const char* pathA, const char* pathB, const char* diffPath,
                   DiffMode mode) {
    Image* a = nullptr;
    Image* b = nullptr;
    Image* diff = nullptr;
    bool identical = false;
    try {
        {
            ScopedTimer timer("Load source images");
            a = LoadImageFile(pathA);
            // The same bytes decode to the same pixels: B is A, and every
            // message, timer line and answer stays what two loads give.
            b = FilesHaveSameBytes(pathA, pathB) ? a : LoadImageFile(pathB);
            // glibc raises its mapping threshold once the first library
            // frame is freed, so the second one came from the heap and stays
            // there when freed: hand it back before the difference picture
            // adds to the peak.
            ReleaseFreeHeapMemory();
        }
        if (!SameDimensions(a, b)) {
            LogMessage("Dimensions of the images don't match!");
            throw FatalError{};
        }
        {
            ScopedTimer timer("Perform diff");
            // Without a place to write it, the difference picture is never
            // made: the decision alone needs no third frame.
            if (diffPath != nullptr) {
                diff = CreateDiffImage(a, b, mode);
                identical = diff == nullptr;
            } else {
                identical = !ImagesDiffer(a, b);
            }
            if (g_verbose) {
                LogMessage(identical ? "Images are identical" : "Images differ");
            }
        }
        if (diff != nullptr) {
            ScopedTimer timer("Save diff image");
            SaveImageFile(diff, diffPath);
        }
    } catch (const FatalError&) {
        // The thrower has printed the reason.
        identical = false;
    }
    DestroyImage(a);
    if (b != a) {
        DestroyImage(b);
    }
    DestroyImage(diff);
    return identical;
}
