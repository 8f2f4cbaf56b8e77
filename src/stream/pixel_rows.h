// Row copies shared by the library bridge and our own readers.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies the bytes at offsets Blue, Green, Red of each Stride-byte pixel.
template <std::size_t Stride, std::size_t Blue, std::size_t Green, std::size_t Red>
void PickChannels(const std::uint8_t* raw, std::uint8_t* out, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* pixel = raw + x * Stride;
        out[3 * x] = pixel[Blue];
        out[3 * x + 1] = pixel[Green];
        out[3 * x + 2] = pixel[Red];
    }
}

// Sample (or palette index) x of a row packed `bits` a sample (1, 2, 4 or
// 8), from each byte's high bits down, as PNG and the library's bitmaps
// store them.
inline unsigned PackedSample(const std::uint8_t* row, std::size_t x, unsigned bits) {
    const std::size_t perByte = 8 / bits;
    const unsigned shift = 8 - bits * (1 + static_cast<unsigned>(x % perByte));
    return (row[x / perByte] >> shift) & ((1u << bits) - 1);
}

// What the library's 32-to-24-bit conversion does to a row: the three
// colour bytes of each pixel stay in their order, the fourth goes.
inline void CopyWithoutFourthByte(const std::uint8_t* source, std::uint8_t* target,
                                  std::size_t pixels) {
    PickChannels<4, 0, 1, 2>(source, target, pixels);
}
