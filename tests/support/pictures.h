// Pictures made by the tests, both through FreeImage and as raw bytes, so
// that reading is not only tried on files the library wrote itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/files.h"

// A picture in the tool's own form: top row first, 3 bytes a pixel in the
// library's 24-bit channel order (blue, green, red on little-endian x86).
struct Pixels24 {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;

    std::uint8_t* At(int x, int y) { return &bytes[(static_cast<std::size_t>(y) * width + x) * 3]; }
};

// Content whose every byte depends on position, so that a mirrored, shifted
// or channel-swapped copy never matches.
Pixels24 PatternPixels(int width, int height, unsigned seed = 1);
Pixels24 BlackPixels(int width, int height);

// Writes through FreeImage in the format the name asks for, 24 bits a pixel.
void SavePicture(const std::string& path, const Pixels24& pixels);
// As above, but in a picture of `bitsPerPixel` (8 grey, 8 palette, 32 RGBA)
// made from the given function, which receives x and y (y = 0 is the top
// row) and returns grey or palette index (8) or 0xAARRGGBB (32).
void SaveDepthPicture(const std::string& path, int width, int height, int bitsPerPixel,
                      bool palette, const std::function<std::uint32_t(int, int)>& valueAt);

// A 24-bit BMP written byte by byte; `topDown` stores the rows in reading
// order (negative height in the header) instead of the usual bottom-up.
void WriteRawBmp24(const std::string& path, const Pixels24& pixels, bool topDown = false);

// Reads a picture back through FreeImage in the tool's own form, loaded
// with the library's flags `loadFlags`.
Pixels24 ReadPicture(const std::string& path, int loadFlags = 0);
