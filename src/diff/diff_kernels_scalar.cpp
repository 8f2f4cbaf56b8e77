#include "diff/diff_kernels.h"

bool DiffAbsDelta_scalar(const std::uint8_t* a, const std::uint8_t* b,
                         std::uint8_t* out, std::size_t blockCount) {
    const std::size_t size = blockCount * 16;
    unsigned any = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned delta = a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];
        out[i] = static_cast<std::uint8_t>(delta);
        any |= delta;
    }
    return any != 0;
}

bool DiffXor_scalar(const std::uint8_t* a, const std::uint8_t* b,
                    std::uint8_t* out, std::size_t blockCount) {
    const std::size_t size = blockCount * 16;
    unsigned any = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned bits = a[i] ^ b[i];
        out[i] = static_cast<std::uint8_t>(bits);
        any |= bits;
    }
    return any != 0;
}
