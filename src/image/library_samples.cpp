#include "image/library_samples.h"

#include <cstring>
#include <new>

#include "common/log.h"
#include "stream/pixel_rows.h"

namespace {

// Row y of the picture, top row 0: the library keeps the bottom row first.
const BYTE* RowOf(const FreeImageLibrary& library, FIBITMAP* bitmap, std::int32_t y) {
    const auto height = static_cast<std::size_t>(library.GetHeight(bitmap));
    return library.GetBits(bitmap) + (height - 1 - static_cast<std::size_t>(y)) * library.GetPitch(bitmap);
}

// A BMP's fourth byte is alpha only where its header gives an alpha mask:
// a V4 or V5 header with bit fields, or alpha bit fields. Otherwise it is
// padding, whatever it holds.
bool BmpHasAlphaMask(std::FILE* file) {
    std::uint8_t head[70] = {};
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, file) != sizeof head) {
        return false;
    }
    const auto little = [&](std::size_t at) {
        return static_cast<std::uint32_t>(head[at]) | static_cast<std::uint32_t>(head[at + 1]) << 8 |
               static_cast<std::uint32_t>(head[at + 2]) << 16 | static_cast<std::uint32_t>(head[at + 3]) << 24;
    };
    const std::uint32_t infoSize = little(14);
    const std::uint32_t compression = little(30);
    const bool masks = (compression == 3 && infoSize >= 56) || (compression == 6 && infoSize >= 40);
    return masks && little(66) != 0;
}

// Whether the fourth byte of a 32-bit bitmap of `format` is alpha: in the
// formats that store an alpha channel there, unless the library read CMYK.
bool FourthByteIsAlpha(const FreeImageLibrary& library, FIBITMAP* bitmap, FREE_IMAGE_FORMAT format,
                       std::FILE* file) {
    const FIICCPROFILE* profile = library.GetICCProfile(bitmap);
    if (profile != nullptr && (profile->flags & FIICC_COLOR_IS_CMYK) != 0) {
        return false;
    }
    switch (format) {
    case FIF_PNG:
    case FIF_TARGA:
    case FIF_TIFF:
    case FIF_PSD:
    case FIF_WEBP:
    case FIF_ICO:
    case FIF_J2K:
    case FIF_JP2:
    case FIF_XPM:
    case FIF_DDS: return true;
    case FIF_BMP: return BmpHasAlphaMask(file);
    default: return false;
    }
}

std::uint8_t EightBitsOf(float value) {
    // NaN fails the first test.
    if (!(value > 0.0f)) {
        return 0;
    }
    // Rounded by hand: lround would bring libm into every run's start-up.
    return value >= 1.0f ? 255 : static_cast<std::uint8_t>(value * 255.0f + 0.5f);
}

}  // namespace

bool HoldsFloatSamples(const FreeImageLibrary& library, FIBITMAP* bitmap) {
    const FREE_IMAGE_TYPE type = library.GetImageType(bitmap);
    return type == FIT_FLOAT || type == FIT_RGBF || type == FIT_RGBAF;
}

Image* FloatPicture(const FreeImageLibrary& library, FIBITMAP* bitmap) {
    const auto width = static_cast<std::int32_t>(library.GetWidth(bitmap));
    const auto height = static_cast<std::int32_t>(library.GetHeight(bitmap));
    const FREE_IMAGE_TYPE type = library.GetImageType(bitmap);
    const std::size_t channels = type == FIT_FLOAT ? 1 : type == FIT_RGBF ? 3 : 4;
    OwnedPlane plane(DeepPlaneSize(width, height, Samples::Float));
    if (plane.Data() == nullptr) {
        FailOutOfMemory(width, height);
    }
    Image* image = CreateImage(width, height);
    auto* deep = static_cast<float*>(plane.Data());
    for (std::int32_t y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const float*>(RowOf(library, bitmap, y));
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
            const float* sample = row + channels * x;
            const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x;
            float* out = deep + 4 * at;
            out[0] = sample[0];
            out[1] = channels == 1 ? sample[0] : sample[1];
            out[2] = channels == 1 ? sample[0] : sample[2];
            out[3] = channels == 4 ? sample[3] : 1.0f;
            std::uint8_t* pixel = image->pixels + 3 * at;
            pixel[FI_RGBA_RED] = EightBitsOf(out[0]);
            pixel[FI_RGBA_GREEN] = EightBitsOf(out[1]);
            pixel[FI_RGBA_BLUE] = EightBitsOf(out[2]);
        }
    }
    image->samples = Samples::Float;
    image->storesAlpha = channels == 4;
    image->deep = plane.Release();
    return image;
}

NativeSamples::NativeSamples(const FreeImageLibrary& library, FIBITMAP* bitmap,
                             FREE_IMAGE_FORMAT format, std::FILE* file)
    : width(static_cast<std::int32_t>(library.GetWidth(bitmap))),
      height(static_cast<std::int32_t>(library.GetHeight(bitmap))) {
    switch (library.GetImageType(bitmap)) {
    case FIT_BITMAP:
        ReadAlpha(library, bitmap,
                  library.GetBPP(bitmap) == 32 && FourthByteIsAlpha(library, bitmap, format, file));
        return;
    case FIT_UINT16:
    case FIT_RGB16:
    case FIT_RGBA16: ReadDeep(library, bitmap); return;
    default: break;
    }
    FatalError error{Failure::UnsupportedSamples};
    switch (library.GetImageType(bitmap)) {
    case FIT_INT16: error.samples[0] = static_cast<std::uint8_t>(Samples::SignedInt16); break;
    case FIT_UINT32: error.samples[0] = static_cast<std::uint8_t>(Samples::UnsignedInt32); break;
    case FIT_INT32: error.samples[0] = static_cast<std::uint8_t>(Samples::SignedInt32); break;
    case FIT_DOUBLE: error.samples[0] = static_cast<std::uint8_t>(Samples::Double); break;
    default: error.samples[0] = static_cast<std::uint8_t>(Samples::Complex); break;
    }
    throw error;
}

NativeSamples::~NativeSamples() = default;

void NativeSamples::ReadDeep(const FreeImageLibrary& library, FIBITMAP* bitmap) {
    const FREE_IMAGE_TYPE type = library.GetImageType(bitmap);
    const std::size_t channels = type == FIT_UINT16 ? 1 : type == FIT_RGB16 ? 3 : 4;
    deep = std::make_unique<OwnedPlane>(DeepPlaneSize(width, height, Samples::Bits16));
    if (deep->Data() == nullptr) {
        FailOutOfMemory(width, height);
    }
    auto* out = static_cast<std::uint16_t*>(deep->Data());
    for (std::int32_t y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const WORD*>(RowOf(library, bitmap, y));
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x, out += 4) {
            const WORD* sample = row + channels * x;
            out[0] = sample[0];
            out[1] = channels == 1 ? sample[0] : sample[1];
            out[2] = channels == 1 ? sample[0] : sample[2];
            out[3] = channels == 4 ? sample[3] : 65535;
        }
    }
    samples = Samples::Bits16;
    storesAlpha = channels == 4;
}

void NativeSamples::ReadAlpha(const FreeImageLibrary& library, FIBITMAP* bitmap, bool fourthByteIsAlpha) {
    const unsigned bitsPerPixel = library.GetBPP(bitmap);
    const unsigned tableSize = bitsPerPixel <= 8 ? library.GetTransparencyCount(bitmap) : 0;
    if (!fourthByteIsAlpha && tableSize == 0) {
        return;
    }
    const BYTE* table = library.GetTransparencyTable(bitmap);
    alpha = std::make_unique<AlphaCollector>(width, height);
    const std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(width)]);
    if (row == nullptr) {
        FailOutOfMemory(width, height);
    }
    for (std::int32_t y = 0; y < height; ++y) {
        const BYTE* line = RowOf(library, bitmap, y);
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
            if (fourthByteIsAlpha) {
                row[x] = line[4 * x + FI_RGBA_ALPHA];
            } else {
                const unsigned index = PackedSample(line, x, bitsPerPixel);
                row[x] = index < tableSize ? table[index] : 255;
            }
        }
        if (!alpha->TakeRow(y, row.get())) {
            FailOutOfMemory(width, height);
        }
    }
    storesAlpha = true;
}

void NativeSamples::AttachTo(Image* image) {
    if (alpha != nullptr) {
        alpha->Attach(image);
    }
    if (deep != nullptr) {
        image->deep = deep->Release();
        image->samples = samples;
    }
    image->storesAlpha = storesAlpha;
}
