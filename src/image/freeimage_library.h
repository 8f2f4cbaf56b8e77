// The picture library, loaded the first time a picture needs it: a run
// whose files our own readers take, and that writes no picture, never pays
// for the start-up of its two dozen shared libraries. Its header supplies
// the types and signatures only; every call goes through the table below.
#pragma once

#include <FreeImage.h>

#include <memory>

struct FreeImageLibrary {
    decltype(&FreeImage_GetFileTypeFromHandle) GetFileTypeFromHandle;
    decltype(&FreeImage_LoadFromHandle) LoadFromHandle;
    decltype(&FreeImage_FIFSupportsNoPixels) FIFSupportsNoPixels;
    decltype(&FreeImage_GetImageType) GetImageType;
    decltype(&FreeImage_GetBPP) GetBPP;
    decltype(&FreeImage_GetWidth) GetWidth;
    decltype(&FreeImage_GetHeight) GetHeight;
    decltype(&FreeImage_GetBits) GetBits;
    decltype(&FreeImage_GetPitch) GetPitch;
    decltype(&FreeImage_ConvertTo8Bits) ConvertTo8Bits;
    decltype(&FreeImage_ConvertTo24Bits) ConvertTo24Bits;
    decltype(&FreeImage_Unload) Unload;
    decltype(&FreeImage_GetFIFFromFilename) GetFIFFromFilename;
    decltype(&FreeImage_ConvertFromRawBits) ConvertFromRawBits;
    decltype(&FreeImage_SetTransparent) SetTransparent;
    decltype(&FreeImage_SaveToHandle) SaveToHandle;
    decltype(&FreeImage_GetTransparencyCount) GetTransparencyCount;
    decltype(&FreeImage_GetTransparencyTable) GetTransparencyTable;
    decltype(&FreeImage_GetICCProfile) GetICCProfile;
    decltype(&FreeImage_FIFSupportsExportBPP) FIFSupportsExportBPP;
};

// A library bitmap, unloaded when it goes (through the loaded library).
struct BitmapUnloader {
    void operator()(FIBITMAP* bitmap) const;
};
using Bitmap = std::unique_ptr<FIBITMAP, BitmapUnloader>;

// The library's file name on this system.
extern const char* const kFreeImageFileName;
// Whether users add the library themselves (FreeImage.dll beside the tool
// on Windows) rather than getting it with the tool's package: a file that
// needs it then names the library it was missing.
extern const bool kFreeImageInstalledApart;

// Fills `library` from the library file `fileName`. False when the file
// cannot be loaded or lacks one of the functions.
bool OpenFreeImage(const char* fileName, FreeImageLibrary& library);

// The library, loaded on first use. When it cannot be loaded this prints
// "Cannot load the picture library <file name>" and throws FatalError, on
// that and every later call.
const FreeImageLibrary& FreeImage();

// Loads the library now if it can be, silently (a failure is told when
// the library is needed): for a process about to lose the right to open
// files.
void PreloadFreeImage();
bool FreeImageLoaded();

// From now on a first need of the library calls `whenNeeded` (which must
// not return) instead of loading it: the process can no longer open it.
void ForbidLoadingFreeImage(void (*whenNeeded)());
// The same even where the library is loaded: from now on every need of it
// calls `whenNeeded`.
void ForbidFreeImage(void (*whenNeeded)());
