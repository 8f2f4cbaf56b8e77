#include "diff/diff_kernels.h"

namespace {

struct AbsDeltaByte {
    static unsigned Of(unsigned a, unsigned b) { return a > b ? a - b : b - a; }
};

struct XorByte {
    static unsigned Of(unsigned a, unsigned b) { return a ^ b; }
};

// In both modes the output byte is nonzero exactly where the inputs differ,
// so it makes the decision too.
template <typename Output>
bool DiffBytes(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
               std::size_t blockCount) {
    const std::size_t size = blockCount * 16;
    unsigned any = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned value = Output::Of(a[i], b[i]);
        out[i] = static_cast<std::uint8_t>(value);
        any |= value;
    }
    return any != 0;
}

}  // namespace

bool DiffAbsDelta_scalar(const std::uint8_t* a, const std::uint8_t* b,
                         std::uint8_t* out, std::size_t blockCount) {
    return DiffBytes<AbsDeltaByte>(a, b, out, blockCount);
}

bool DiffXor_scalar(const std::uint8_t* a, const std::uint8_t* b,
                    std::uint8_t* out, std::size_t blockCount) {
    return DiffBytes<XorByte>(a, b, out, blockCount);
}

bool CompareBlocks_scalar(const std::uint8_t* a, const std::uint8_t* b, std::size_t blockCount) {
    const std::size_t size = blockCount * 16;
    unsigned any = 0;
    for (std::size_t i = 0; i < size; ++i) {
        any |= static_cast<unsigned>(a[i] ^ b[i]);
    }
    return any != 0;
}

bool BytesWithin_scalar(const std::uint8_t* a, const std::uint8_t* b, std::size_t size,
                        std::uint8_t tolerance) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned delta = AbsDeltaByte::Of(a[i], b[i]);
        if (delta > tolerance) {
            return false;
        }
    }
    return true;
}
