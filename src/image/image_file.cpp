#include "image/image_file.h"

#include <FreeImage.h>

#include <climits>
#include <cstring>
#include <string>

#include "common/log.h"
#include "platform/platform.h"

namespace {

// What the library's 32-to-24-bit conversion does to one scan line: the
// three colour bytes of each pixel stay in their order, alpha goes.
void CopyWithoutFourthByte(const std::uint8_t* source, std::uint8_t* target,
                           std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        target[3 * i] = source[4 * i];
        target[3 * i + 1] = source[4 * i + 1];
        target[3 * i + 2] = source[4 * i + 2];
    }
}

}  // namespace

Image* LoadImageFile(const char* path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path, 0);
    if (format == FIF_UNKNOWN) {
        LogMessage("Unknown fileformat for %s", path);
        throw FatalError{};
    }

    FIBITMAP* loaded = FreeImage_Load(format, path, 0);
    if (loaded == nullptr) {
        LogMessage("Failed to load %s", path);
        throw FatalError{};
    }
    // A 24-bit picture needs no conversion, and a 32-bit one only loses its
    // fourth byte, which the copy below drops itself: the library's
    // conversion would cost a whole frame of fresh memory for either.
    FIBITMAP* bitmap = loaded;
    const bool plainBitmap = FreeImage_GetImageType(loaded) == FIT_BITMAP;
    const unsigned sourceBpp = FreeImage_GetBPP(loaded);
    if (!plainBitmap || (sourceBpp != 24 && sourceBpp != 32)) {
        bitmap = FreeImage_ConvertTo24Bits(loaded);
        FreeImage_Unload(loaded);
    }
    if (bitmap == nullptr) {
        LogMessage("Failed to load %s", path);
        throw FatalError{};
    }

    const unsigned width = FreeImage_GetWidth(bitmap);
    const unsigned height = FreeImage_GetHeight(bitmap);
    if (width > INT32_MAX || height > INT32_MAX) {
        FreeImage_Unload(bitmap);
        LogMessage("Failed to load %s", path);
        throw FatalError{};
    }

    Image* image = nullptr;
    try {
        image = CreateImage(static_cast<std::int32_t>(width),
                            static_cast<std::int32_t>(height));
    } catch (const FatalError&) {
        FreeImage_Unload(bitmap);
        throw;
    }

    // The library keeps the bottom row in scan line 0 and pads each scan
    // line to 4 bytes; the Image is top-down and packed.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    const bool fourBytesPerPixel = FreeImage_GetBPP(bitmap) == 32;
    for (unsigned row = 0; row < height; ++row) {
        const BYTE* line = FreeImage_GetScanLine(bitmap, static_cast<int>(height - 1 - row));
        std::uint8_t* target = image->pixels + row * rowBytes;
        if (fourBytesPerPixel) {
            CopyWithoutFourthByte(line, target, width);
        } else {
            std::memcpy(target, line, rowBytes);
        }
    }
    FreeImage_Unload(bitmap);
    return image;
}

namespace {

// The library's encoders ignore what their write callback returns (the PNG
// encoder among them reports success on a full disk), so the outcome of
// every write is kept here and checked once encoding is over.
struct CheckedOutput {
    std::FILE* file;
    bool failed;
};

unsigned DLL_CALLCONV WriteChecked(void* buffer, unsigned size, unsigned count,
                                   fi_handle handle) {
    auto* output = static_cast<CheckedOutput*>(handle);
    const std::size_t written = std::fwrite(buffer, size, count, output->file);
    if (written != count) {
        output->failed = true;
    }
    return static_cast<unsigned>(written);
}

unsigned DLL_CALLCONV ReadNothing(void*, unsigned, unsigned, fi_handle) { return 0; }

int DLL_CALLCONV SeekChecked(fi_handle handle, long offset, int origin) {
    auto* output = static_cast<CheckedOutput*>(handle);
    const int result = SeekFile(output->file, offset, origin);
    if (result != 0) {
        output->failed = true;
    }
    return result;
}

long DLL_CALLCONV TellChecked(fi_handle handle) {
    auto* output = static_cast<CheckedOutput*>(handle);
    return static_cast<long>(TellFile(output->file));
}

// Encodes into a fresh file beside `path` and moves it into place only when
// every write, the flush to disk and the close have succeeded.
bool EncodeToFile(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, const char* path) {
    std::string tempPath;
    CheckedOutput output{CreateTempFileBeside(path, tempPath), false};
    if (output.file == nullptr) {
        return false;
    }
    FreeImageIO io{ReadNothing, WriteChecked, SeekChecked, TellChecked};
    const bool encoded = FreeImage_SaveToHandle(format, bitmap, &io, &output, 0) != 0;
    const bool closed = SyncAndCloseFile(output.file);
    if (encoded && closed && !output.failed &&
        ReplaceFileAtomically(tempPath.c_str(), path)) {
        return true;
    }
    RemoveFile(tempPath.c_str());
    return false;
}

}  // namespace

void SaveImageFile(const Image* image, const char* path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path);
    if (format == FIF_UNKNOWN) {
        LogMessage("Can't save to unknown filetype %s\n", path);
        throw FatalError{};
    }

    // The library takes the pitch as an int.
    const bool pitchFits = image->width <= INT_MAX / 3;
    FIBITMAP* bitmap =
        pitchFits ? FreeImage_ConvertFromRawBits(image->pixels, image->width,
                                                 image->height, image->width * 3, 24,
                                                 0xFF000000, 0x00FF0000, 0x0000FF00, TRUE)
                  : nullptr;
    if (bitmap == nullptr) {
        LogMessage("Failed to create freeimage for %s\n", path);
        throw FatalError{};
    }
    FreeImage_SetTransparent(bitmap, FALSE);

    const bool saved = EncodeToFile(format, bitmap, path);
    FreeImage_Unload(bitmap);
    if (!saved) {
        LogMessage("Failed to save %s", path);
        throw FatalError{};
    }
}
