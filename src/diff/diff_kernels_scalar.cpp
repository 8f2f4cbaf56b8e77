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

RowDifference MeasureRow_scalar(const std::uint8_t* a, const std::uint8_t* b, std::int32_t width) {
    RowDifference row;
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* pa = a + 3 * static_cast<std::size_t>(x);
        const std::uint8_t* pb = b + 3 * static_cast<std::size_t>(x);
        unsigned delta = 0;
        for (int c = 0; c < 3; ++c) {
            const unsigned channel = AbsDeltaByte::Of(pa[c], pb[c]);
            delta = channel > delta ? channel : delta;
        }
        if (delta != 0) {
            row.first = row.pixels == 0 ? x : row.first;
            row.last = x;
            ++row.pixels;
            row.largestDelta = static_cast<int>(delta) > row.largestDelta ? static_cast<int>(delta) : row.largestDelta;
        }
    }
    return row;
}
