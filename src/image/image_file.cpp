#include "image/image_file.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <memory>

#include "common/log.h"
#include "image/atomic_file.h"
#include "image/freeimage_library.h"
#include "image/library_samples.h"
#include "image/own_readers.h"
#include "stream/pixel_rows.h"
#include "image/png_writer.h"

namespace {

[[noreturn]] void FailToLoad() { throw FatalError{Failure::LoadFailed}; }

[[noreturn]] void FailUnknownFormat() { throw FatalError{Failure::UnknownFormat}; }

void RefuseTooManyPixels(std::uint64_t width, std::uint64_t height, std::uint64_t maxPixels) {
    if (maxPixels != 0 && width * height > maxPixels) {
        throw FatalError{Failure::TooManyPixels, width, height, maxPixels};
    }
}

// Several of the library's loaders go on parsing what a short read left in
// their buffer (a header read past the end of the file, say), and that was
// whatever the memory held: the same file gave other sizes and answers
// from run to run. What the file does not fill of a read up to this size
// is zero, so every run reads the same. A larger read is left as fread
// leaves it: some loaders ask for more than their buffer holds (an icon
// whose header promises 68 KB of pixels, read into 1.6 KB), and zeros
// there would write far past it where the file itself wrote nothing. The
// library's pictures start zeroed, so its large reads need no filling.
constexpr std::size_t kLargestFilledRead = 1024;

unsigned DLL_CALLCONV ReadFromFile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    // Read as bytes, so that the part of an item the file still holds
    // stays, as fread would leave it.
    const std::size_t wanted = static_cast<std::size_t>(size) * count;
    const std::size_t got = std::fread(buffer, 1, wanted, static_cast<std::FILE*>(handle));
    if (got < wanted && wanted <= kLargestFilledRead) {
        std::memset(static_cast<char*>(buffer) + got, 0, wanted - got);
    }
    return size == 0 ? 0 : static_cast<unsigned>(got / size);
}

unsigned DLL_CALLCONV WriteToFile(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return static_cast<unsigned>(std::fwrite(buffer, size, count, static_cast<std::FILE*>(handle)));
}

int DLL_CALLCONV SeekInFile(fi_handle handle, long offset, int origin) {
    return std::fseek(static_cast<std::FILE*>(handle), offset, origin);
}

long DLL_CALLCONV TellInFile(fi_handle handle) { return std::ftell(static_cast<std::FILE*>(handle)); }

// The flags that make the library hand over the samples the file holds:
// PNG without gamma correction, which would merge neighbouring levels, and
// JPEG with the exact inverse DCT and smooth chroma upsampling that other
// decoders use, not the fast approximation.
int LoadFlags(FREE_IMAGE_FORMAT format) {
    switch (format) {
    case FIF_PNG: return PNG_IGNOREGAMMA;
    case FIF_JPEG: return JPEG_ACCURATE;
    default: return 0;
    }
}

}  // namespace

PictureFile OpenPictureFile(const char* path) { return PictureFile(std::fopen(path, "rb")); }

namespace {

// The library's 24-bit form of `bitmap`, which it may replace.
void ConvertTo24Bits(const FreeImageLibrary& library, Bitmap& bitmap) {
    // The 24-bit conversion refuses 16-bit grey; reduced to its high bytes
    // first, as 48-bit colour is, it becomes ordinary 8-bit grey.
    if (library.GetImageType(bitmap.get()) == FIT_UINT16) {
        bitmap.reset(library.ConvertTo8Bits(bitmap.get()));
        if (bitmap == nullptr) {
            FailToLoad();
        }
    }
    // A 24-bit picture needs no conversion, and a 32-bit one only loses its
    // fourth byte, which the copy below drops itself: the library's
    // conversion would cost a whole frame of fresh memory for either.
    const bool plainBitmap = library.GetImageType(bitmap.get()) == FIT_BITMAP;
    const unsigned sourceBpp = library.GetBPP(bitmap.get());
    if (!plainBitmap || (sourceBpp != 24 && sourceBpp != 32)) {
        bitmap.reset(library.ConvertTo24Bits(bitmap.get()));
        if (bitmap == nullptr) {
            FailToLoad();
        }
    }
}

// A picture of the library's 24-bit (or 32-bit) bitmap: the library keeps
// the bottom row first and pads each row to 4 bytes; the Image is top-down
// and packed.
Image* CopyBitmap(const FreeImageLibrary& library, FIBITMAP* bitmap) {
    const unsigned width = library.GetWidth(bitmap);
    const unsigned height = library.GetHeight(bitmap);
    Image* image = CreateImage(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    const BYTE* bits = library.GetBits(bitmap);
    const std::size_t pitch = library.GetPitch(bitmap);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const bool fourBytesPerPixel = library.GetBPP(bitmap) == 32;
    for (std::size_t row = 0; row < height; ++row) {
        const BYTE* line = bits + (height - 1 - row) * pitch;
        std::uint8_t* target = image->pixels + row * rowBytes;
        if (fourBytesPerPixel) {
            CopyWithoutFourthByte(line, target, width);
        } else {
            std::memcpy(target, line, rowBytes);
        }
    }
    return image;
}

// Loads the file as the library reads it, refusing more than `maxPixels`
// before decoding where the format's header can be read alone.
Bitmap LoadBitmap(const FreeImageLibrary& library, std::FILE* file, std::uint64_t maxPixels,
                  FREE_IMAGE_FORMAT& format) {
    // What the library's own by-name calls do with the file they open.
    FreeImageIO io{ReadFromFile, WriteToFile, SeekInFile, TellInFile};
    std::rewind(file);
    format = library.GetFileTypeFromHandle(&io, file, 0);
    if (format == FIF_UNKNOWN) {
        FailUnknownFormat();
    }
    const int flags = LoadFlags(format);
    if (maxPixels != 0 && library.FIFSupportsNoPixels(format)) {
        std::rewind(file);
        const Bitmap header(library.LoadFromHandle(format, &io, file, flags | FIF_LOAD_NOPIXELS));
        if (header != nullptr) {
            RefuseTooManyPixels(library.GetWidth(header.get()),
                                library.GetHeight(header.get()), maxPixels);
        }
    }
    std::rewind(file);
    Bitmap bitmap(library.LoadFromHandle(format, &io, file, flags));
    if (bitmap == nullptr) {
        FailToLoad();
    }
    const unsigned width = library.GetWidth(bitmap.get());
    const unsigned height = library.GetHeight(bitmap.get());
    if (width > INT32_MAX || height > INT32_MAX) {
        FailToLoad();
    }
    // Formats whose header cannot be read alone meet the limit here.
    RefuseTooManyPixels(width, height, maxPixels);
    return bitmap;
}

}  // namespace

Image* LoadImageFileWithLibrary(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    if (file == nullptr) {
        FailUnknownFormat();
    }
    const FreeImageLibrary& library = FreeImage();
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    Bitmap bitmap = LoadBitmap(library, file, maxPixels, format);
    if (HoldsFloatSamples(library, bitmap.get())) {
        Image* image = FloatPicture(library, bitmap.get());
        if (!deepSamples) {
            KeepOnly24Bits(image);
        }
        return image;
    }
    if (!deepSamples) {
        ConvertTo24Bits(library, bitmap);
        return CopyBitmap(library, bitmap.get());
    }
    NativeSamples native(library, bitmap.get(), format, file);
    ConvertTo24Bits(library, bitmap);
    Image* image = CopyBitmap(library, bitmap.get());
    native.AttachTo(image);
    return image;
}

Image* LoadImageFileWithLibrary(const char* path) {
    const PictureFile file = OpenPictureFile(path);
    return LoadImageFileWithLibrary(file.get(), 0);
}

Image* LoadImageFile(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    if (file == nullptr) {
        FailUnknownFormat();
    }
    const ReadResult own = ReadWithOwnReader(file, maxPixels, deepSamples);
    if (own.image != nullptr) {
        return own.image;
    }
    if (own.tooManyPixels) {
        RefuseTooManyPixels(own.width, own.height, maxPixels);
    }
    return LoadImageFileWithLibrary(file, maxPixels, deepSamples);
}

Image* LoadImageFile(const char* path) {
    const PictureFile file = OpenPictureFile(path);
    return LoadImageFile(file.get(), 0);
}

namespace {

// The name the library would read as PNG: our writer takes it instead.
bool WrittenByOwnWriter(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length < 4) {
        return false;
    }
    const char* ending = path + length - 4;
    for (int i = 0; i < 4; ++i) {
        if (std::tolower(static_cast<unsigned char>(ending[i])) != ".png"[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool NeedsPictureLibrary(std::FILE* input, const char* outputPath) {
    return (outputPath != nullptr && !WrittenByOwnWriter(outputPath)) ||
           (input != nullptr && !LooksLikeOwnFormat(input));
}

namespace {

// Without the library (Windows without FreeImage.dll) its formats are told
// by their first bytes, so that a README beside the pictures is passed
// over while a TIFF still says it needs the library: TIFF, GIF, WebP,
// Photoshop, OpenEXR, Radiance, DDS, ICO, JPEG 2000, PNM.
bool LooksLikeLibraryFormat(std::FILE* file) {
    unsigned char head[12] = {};
    std::rewind(file);
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    const auto starts = [&](const char* magic, std::size_t length, std::size_t at = 0) {
        return got >= at + length && std::memcmp(head + at, magic, length) == 0;
    };
    return starts("II*\0", 4) || starts("MM\0*", 4) || starts("GIF8", 4) || (starts("RIFF", 4) && starts("WEBP", 4, 8)) ||
           starts("8BPS", 4) || starts("v/1\x01", 4) || starts("#?RADIANCE", 10) || starts("#?RGBE", 6) ||
           starts("DDS ", 4) || starts("\0\0\1\0", 4) || starts("\0\0\0\x0cjP  ", 8) || starts("\xff\x4f\xff\x51", 4) ||
           (got >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7' && std::isspace(head[2]) != 0);
}

}  // namespace

bool IsPictureFile(std::FILE* file) {
    if (LooksLikeOwnFormat(file)) {
        return true;
    }
    if (!FreeImageLoaded()) {
        return LooksLikeLibraryFormat(file);
    }
    FreeImageIO io{ReadFromFile, WriteToFile, SeekInFile, TellInFile};
    std::rewind(file);
    return FreeImage().GetFileTypeFromHandle(&io, file, 0) != FIF_UNKNOWN;
}

bool CopyFileBytes(std::FILE* in, std::FILE* out) {
    char buffer[64 * 1024];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, got, out) != got) {
            return false;
        }
    }
    return std::ferror(in) == 0;
}

void CopyImageFile(std::FILE* source, AtomicFile& file) {
    const bool copied = source != nullptr && file.Stream() != nullptr && std::fseek(source, 0, SEEK_SET) == 0 &&
                        CopyFileBytes(source, file.Stream());
    if (!file.Close() || !copied) {
        throw FatalError{Failure::SaveFailed};
    }
}

std::string DifferencePicturePath(const std::string& path) {
    if (!FreeImageLoaded()) {
        return path;
    }
    const FreeImageLibrary& library = FreeImage();
    const FREE_IMAGE_FORMAT format = library.GetFIFFromFilename(path.c_str());
    return format == FIF_UNKNOWN || library.FIFSupportsExportBPP(format, 24) != 0 ? path : path + ".png";
}

namespace {

// The library's encoders ignore what their write callback returns (the PNG
// encoder among them reports success on a full disk), so the outcome of
// every write and seek is kept here and checked once encoding is over.
struct CheckedOutput {
    std::FILE* file;
    bool failed;
};

unsigned DLL_CALLCONV WriteChecked(void* buffer, unsigned size, unsigned count,
                                   fi_handle handle) {
    auto* output = static_cast<CheckedOutput*>(handle);
    const std::size_t written = std::fwrite(buffer, size, count, output->file);
    output->failed |= written != count;
    return static_cast<unsigned>(written);
}

unsigned DLL_CALLCONV ReadNothing(void*, unsigned, unsigned, fi_handle) { return 0; }

// The library's own positions are longs, so fseek and ftell reach them all.
int DLL_CALLCONV SeekChecked(fi_handle handle, long offset, int origin) {
    auto* output = static_cast<CheckedOutput*>(handle);
    const int result = std::fseek(output->file, offset, origin);
    output->failed |= result != 0;
    return result;
}

long DLL_CALLCONV TellChecked(fi_handle handle) {
    return std::ftell(static_cast<CheckedOutput*>(handle)->file);
}

// Encodes into `file` and flushes it to the storage device; true only when
// every write, the flush and the close have succeeded.
bool EncodeToFile(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, AtomicFile& file) {
    if (file.Stream() == nullptr) {
        return false;
    }
    CheckedOutput output{file.Stream(), false};
    FreeImageIO io{ReadNothing, WriteChecked, SeekChecked, TellChecked};
    const bool encoded = FreeImage().SaveToHandle(format, bitmap, &io, &output, 0) != 0;
    return file.Close() && encoded && !output.failed;
}

}  // namespace

void SaveImageFile(const Image* image, const char* path, AtomicFile& file) {
    if (WrittenByOwnWriter(path)) {
        WritePng(image, file, PngRowWriter::Content::MostlyBlack);
    } else {
        SaveImageFileWithLibrary(image, path, file);
    }
}

void SaveImageFileWithLibrary(const Image* image, const char* path, AtomicFile& file) {
    const FreeImageLibrary& library = FreeImage();
    const FREE_IMAGE_FORMAT format = library.GetFIFFromFilename(path);
    if (format == FIF_UNKNOWN) {
        throw FatalError{Failure::UnknownOutputType};
    }

    // The library takes the pitch as an int.
    const bool pitchFits = image->width <= INT_MAX / 3;
    const Bitmap bitmap(pitchFits ? library.ConvertFromRawBits(
                                        image->pixels, image->width, image->height,
                                        image->width * 3, 24, 0xFF000000, 0x00FF0000,
                                        0x0000FF00, TRUE)
                                  : nullptr);
    if (bitmap == nullptr) {
        throw FatalError{Failure::BitmapNotMade};
    }
    library.SetTransparent(bitmap.get(), FALSE);

    if (!EncodeToFile(format, bitmap.get(), file)) {
        throw FatalError{Failure::SaveFailed};
    }
}
