#include "image/freeimage_library.h"

#include <cstdarg>

#include "common/log.h"
#include "platform/platform.h"

#if defined(_WIN32)
const char* const kFreeImageFileName = "FreeImage.dll";
const bool kFreeImageInstalledApart = true;
#else
const char* const kFreeImageFileName = "libfreeimage.so.3";
const bool kFreeImageInstalledApart = false;
#endif

namespace {

template <typename Function>
bool Find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(FindSymbol(library, name));
    return function != nullptr;
}

// libtiff reports every tag it does not know on standard error, dozens of
// lines for an ordinary camera TIFF; the tool's messages are its standard
// output, and standard error stays empty. Where libtiff is a library of its
// own, its handlers are found through the picture library's dependencies.
void SilenceTiffWarnings(void* library) {
    using Handler = void (*)(const char*, const char*, std::va_list);
    using SetHandler = Handler (*)(Handler);
    for (const char* name : {"TIFFSetWarningHandler", "TIFFSetErrorHandler"}) {
        SetHandler setHandler = nullptr;
        if (Find(library, name, setHandler)) {
            setHandler(nullptr);
        }
    }
}

}  // namespace

bool OpenFreeImage(const char* fileName, FreeImageLibrary& library) {
    void* handle = OpenSharedLibrary(fileName);
    if (handle == nullptr) {
        return false;
    }
    FreeImageLibrary& l = library;
    const bool complete =
        Find(handle, "FreeImage_GetFileTypeFromHandle", l.GetFileTypeFromHandle) &&
        Find(handle, "FreeImage_LoadFromHandle", l.LoadFromHandle) &&
        Find(handle, "FreeImage_FIFSupportsNoPixels", l.FIFSupportsNoPixels) &&
        Find(handle, "FreeImage_GetImageType", l.GetImageType) &&
        Find(handle, "FreeImage_GetBPP", l.GetBPP) &&
        Find(handle, "FreeImage_GetWidth", l.GetWidth) &&
        Find(handle, "FreeImage_GetHeight", l.GetHeight) &&
        Find(handle, "FreeImage_GetBits", l.GetBits) &&
        Find(handle, "FreeImage_GetPitch", l.GetPitch) &&
        Find(handle, "FreeImage_ConvertTo8Bits", l.ConvertTo8Bits) &&
        Find(handle, "FreeImage_ConvertTo24Bits", l.ConvertTo24Bits) &&
        Find(handle, "FreeImage_Unload", l.Unload) &&
        Find(handle, "FreeImage_GetFIFFromFilename", l.GetFIFFromFilename) &&
        Find(handle, "FreeImage_ConvertFromRawBits", l.ConvertFromRawBits) &&
        Find(handle, "FreeImage_SetTransparent", l.SetTransparent) &&
        Find(handle, "FreeImage_SaveToHandle", l.SaveToHandle) &&
        Find(handle, "FreeImage_GetTransparencyCount", l.GetTransparencyCount) &&
        Find(handle, "FreeImage_GetTransparencyTable", l.GetTransparencyTable) &&
        Find(handle, "FreeImage_GetICCProfile", l.GetICCProfile) &&
        Find(handle, "FreeImage_FIFSupportsExportBPP", l.FIFSupportsExportBPP);
    if (complete) {
        SilenceTiffWarnings(handle);
    }
    return complete;
}

namespace {

enum class LoadState { NotTried, Loaded, Failed };

FreeImageLibrary g_library{};
LoadState g_state = LoadState::NotTried;
void (*g_whenNeededButForbidden)() = nullptr;
bool g_forbiddenEvenLoaded = false;

void TryLoading() {
    if (g_state == LoadState::NotTried) {
        g_state = OpenFreeImage(kFreeImageFileName, g_library) ? LoadState::Loaded : LoadState::Failed;
    }
}

}  // namespace

const FreeImageLibrary& FreeImage() {
    if ((g_state == LoadState::NotTried || g_forbiddenEvenLoaded) && g_whenNeededButForbidden != nullptr) {
        g_whenNeededButForbidden();
    }
    TryLoading();
    if (g_state != LoadState::Loaded) {
        throw FatalError{Failure::LibraryUnavailable};
    }
    return g_library;
}

void BitmapUnloader::operator()(FIBITMAP* bitmap) const { FreeImage().Unload(bitmap); }

void PreloadFreeImage() { TryLoading(); }

bool FreeImageLoaded() { return g_state == LoadState::Loaded; }

void ForbidLoadingFreeImage(void (*whenNeeded)()) { g_whenNeededButForbidden = whenNeeded; }

void ForbidFreeImage(void (*whenNeeded)()) {
    g_whenNeededButForbidden = whenNeeded;
    g_forbiddenEvenLoaded = true;
}
