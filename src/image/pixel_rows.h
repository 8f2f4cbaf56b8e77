// Row copies shared by the library bridge and our own readers.
#pragma once

#include <cstddef>
#include <cstdint>

// What the library's 32-to-24-bit conversion does to a row: the three
// colour bytes of each pixel stay in their order, the fourth goes.
inline void CopyWithoutFourthByte(const std::uint8_t* source, std::uint8_t* target,
                                  std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        target[3 * i] = source[4 * i];
        target[3 * i + 1] = source[4 * i + 1];
        target[3 * i + 2] = source[4 * i + 2];
    }
}
