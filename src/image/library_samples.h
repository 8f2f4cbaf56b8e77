// What a library bitmap holds beyond its 24-bit form, read from the
// library's native types: alpha where the format stores it, 16-bit samples
// (FIT_UINT16, FIT_RGB16, FIT_RGBA16) and float samples (FIT_FLOAT,
// FIT_RGBF, FIT_RGBAF). The library's transparency flag is no witness (it
// is set for any 32-bit bitmap); what the format stores decides.
#pragma once

#include <cstdio>
#include <memory>

#include "image/freeimage_library.h"
#include "image/image.h"

// Whether `bitmap` holds float samples (which have no 24-bit form of the
// library's).
bool HoldsFloatSamples(const FreeImageLibrary& library, FIBITMAP* bitmap);

// A picture of float samples. Its 24-bit form is each sample clamped to
// [0, 1] and scaled to 255, rounded (NaN gives 0); the deep plane holds the
// samples bit for bit. Throws FatalError when memory runs out.
Image* FloatPicture(const FreeImageLibrary& library, FIBITMAP* bitmap);

// The samples beyond the 24-bit form of an integer bitmap of `format`,
// gathered before the 24-bit conversion loses them, and freed unless
// attached. `file` is the file it was loaded from, at any position.
class NativeSamples {
public:
    // Throws FatalError: OutOfMemory, or UnsupportedSamples for sample
    // types that are not compared (signed or 32-bit integers, doubles,
    // complex numbers).
    NativeSamples(const FreeImageLibrary& library, FIBITMAP* bitmap, FREE_IMAGE_FORMAT format,
                  std::FILE* file);
    ~NativeSamples();
    NativeSamples(const NativeSamples&) = delete;
    NativeSamples& operator=(const NativeSamples&) = delete;

    void AttachTo(Image* image);

private:
    void ReadDeep(const FreeImageLibrary& library, FIBITMAP* bitmap);
    void ReadAlpha(const FreeImageLibrary& library, FIBITMAP* bitmap, bool fourthByteIsAlpha);

    std::int32_t width;
    std::int32_t height;
    Samples samples = Samples::Bits8;
    bool storesAlpha = false;
    std::unique_ptr<AlphaCollector> alpha;
    std::unique_ptr<OwnedPlane> deep;
};
