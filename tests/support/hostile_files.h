// Picture files no well-behaved encoder writes: headers that promise more
// than the file holds, and PNGs streamed to disk without ever holding the
// picture in memory.
#pragma once

#include <cstdint>
#include <string>

// Headers alone, claiming a picture of width x height, 24 bits a pixel,
// with no pixel data after them.
std::string BmpHeaderOnly(std::uint32_t width, std::uint32_t height);
std::string PngHeaderOnly(std::uint32_t width, std::uint32_t height);
std::string PnmHeaderOnly(std::uint32_t width, std::uint32_t height);

// Writes a black 24-bit PNG of width x height row by row, except that the
// last pixel of the bottom row is (1, 2, 3) when `markLastPixel` is set.
void WriteBlackPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                   bool markLastPixel);
