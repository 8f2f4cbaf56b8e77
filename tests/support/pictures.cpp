#include "support/pictures.h"

#include <FreeImage.h>

#include <cstring>
#include <stdexcept>

Pixels24 PatternPixels(int width, int height, unsigned seed) {
    Pixels24 pixels{width, height, {}};
    pixels.bytes.resize(static_cast<std::size_t>(width) * height * 3);
    unsigned state = seed * 2654435761u + 12345u;
    for (std::uint8_t& byte : pixels.bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return pixels;
}

Pixels24 BlackPixels(int width, int height) {
    return Pixels24{width, height,
                    std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3, 0)};
}

namespace {

void SaveBitmap(FIBITMAP* bitmap, const std::string& path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFIFFromFilename(path.c_str());
    const bool saved = format != FIF_UNKNOWN && FreeImage_Save(format, bitmap, path.c_str(), 0);
    FreeImage_Unload(bitmap);
    if (!saved) {
        throw std::runtime_error("test picture not written: " + path);
    }
}

}  // namespace

void SavePicture(const std::string& path, const Pixels24& pixels) {
    FIBITMAP* bitmap = FreeImage_Allocate(pixels.width, pixels.height, 24);
    for (int y = 0; y < pixels.height; ++y) {
        std::memcpy(FreeImage_GetScanLine(bitmap, pixels.height - 1 - y),
                    &pixels.bytes[static_cast<std::size_t>(y) * pixels.width * 3],
                    static_cast<std::size_t>(pixels.width) * 3);
    }
    SaveBitmap(bitmap, path);
}

void SaveDepthPicture(const std::string& path, int width, int height, int bitsPerPixel,
                      bool palette, const std::function<std::uint32_t(int, int)>& valueAt) {
    FIBITMAP* bitmap = bitsPerPixel == 32
                           ? FreeImage_Allocate(width, height, 32, FI_RGBA_RED_MASK,
                                                FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK)
                           : FreeImage_Allocate(width, height, bitsPerPixel);
    if (bitsPerPixel == 8) {
        RGBQUAD* colors = FreeImage_GetPalette(bitmap);
        for (int i = 0; i < 256; ++i) {
            // A grey ramp makes the picture greyscale; anything else a palette.
            colors[i].rgbRed = static_cast<BYTE>(i);
            colors[i].rgbGreen = static_cast<BYTE>(palette ? 255 - i : i);
            colors[i].rgbBlue = static_cast<BYTE>(palette ? (i * 7) & 0xFF : i);
        }
    }
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t value = valueAt(x, y);
            if (bitsPerPixel == 8) {
                line[x] = static_cast<BYTE>(value);
            } else {
                line[x * 4 + FI_RGBA_RED] = static_cast<BYTE>(value >> 16);
                line[x * 4 + FI_RGBA_GREEN] = static_cast<BYTE>(value >> 8);
                line[x * 4 + FI_RGBA_BLUE] = static_cast<BYTE>(value);
                line[x * 4 + FI_RGBA_ALPHA] = static_cast<BYTE>(value >> 24);
            }
        }
    }
    SaveBitmap(bitmap, path);
}

void WriteRawBmp24(const std::string& path, const Pixels24& pixels, bool topDown) {
    const std::uint32_t rowBytes = static_cast<std::uint32_t>(pixels.width) * 3;
    const std::uint32_t stride = (rowBytes + 3) & ~3u;
    const std::uint32_t imageBytes = stride * static_cast<std::uint32_t>(pixels.height);
    std::string file = "BM";
    PutLittleEndian(file, 54 + imageBytes, 4);  // file size
    PutLittleEndian(file, 0, 4);                // reserved
    PutLittleEndian(file, 54, 4);               // offset of the pixel data
    PutLittleEndian(file, 40, 4);               // BITMAPINFOHEADER
    PutLittleEndian(file, static_cast<std::uint32_t>(pixels.width), 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(topDown ? -pixels.height : pixels.height), 4);
    PutLittleEndian(file, 1, 2);   // planes
    PutLittleEndian(file, 24, 2);  // bits per pixel
    PutLittleEndian(file, 0, 4);   // BI_RGB
    PutLittleEndian(file, imageBytes, 4);
    PutLittleEndian(file, 2835, 4);  // 72 dpi
    PutLittleEndian(file, 2835, 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 0, 4);
    for (int i = 0; i < pixels.height; ++i) {
        const int y = topDown ? i : pixels.height - 1 - i;
        file.append(reinterpret_cast<const char*>(&pixels.bytes[y * rowBytes]), rowBytes);
        file.append(stride - rowBytes, '\0');
    }
    WriteFileBytes(path, file);
}

Pixels24 ReadPicture(const std::string& path, int loadFlags) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    FIBITMAP* loaded = FreeImage_Load(format, path.c_str(), loadFlags);
    if (loaded == nullptr) {
        throw std::runtime_error("test picture not readable: " + path);
    }
    FIBITMAP* bitmap = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    Pixels24 pixels = BlackPixels(static_cast<int>(FreeImage_GetWidth(bitmap)),
                                  static_cast<int>(FreeImage_GetHeight(bitmap)));
    for (int y = 0; y < pixels.height; ++y) {
        std::memcpy(&pixels.bytes[static_cast<std::size_t>(y) * pixels.width * 3],
                    FreeImage_GetScanLine(bitmap, pixels.height - 1 - y),
                    static_cast<std::size_t>(pixels.width) * 3);
    }
    FreeImage_Unload(bitmap);
    return pixels;
}
