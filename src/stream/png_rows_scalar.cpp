#include "stream/png_rows.h"

#include <cstdlib>

namespace {

std::uint8_t Paeth(int left, int up, int upLeft) {
    const int pa = std::abs(up - upLeft);
    const int pb = std::abs(left - upLeft);
    const int pc = std::abs(up - upLeft + left - upLeft);
    if (pa <= pb && pa <= pc) {
        return static_cast<std::uint8_t>(left);
    }
    return static_cast<std::uint8_t>(pb <= pc ? up : upLeft);
}

}  // namespace

void UnfilterSub_scalar(std::uint8_t* row, const std::uint8_t*, std::size_t size,
                        std::size_t bpp) {
    for (std::size_t i = bpp; i < size; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + row[i - bpp]);
    }
}

void UnfilterUp_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                       std::size_t) {
    for (std::size_t i = 0; i < size; ++i) {
        row[i] = static_cast<std::uint8_t>(row[i] + previous[i]);
    }
}

void UnfilterAverage_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                            std::size_t bpp) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned left = i >= bpp ? row[i - bpp] : 0u;
        row[i] = static_cast<std::uint8_t>(row[i] + ((left + previous[i]) >> 1));
    }
}

void UnfilterPaeth_scalar(std::uint8_t* row, const std::uint8_t* previous, std::size_t size,
                          std::size_t bpp) {
    for (std::size_t i = 0; i < size; ++i) {
        const int left = i >= bpp ? row[i - bpp] : 0;
        const int upLeft = i >= bpp ? previous[i - bpp] : 0;
        row[i] = static_cast<std::uint8_t>(row[i] + Paeth(left, previous[i], upLeft));
    }
}

void UnfilterPaethRows_scalar(std::uint8_t* first, std::size_t stride, const std::uint8_t* previous,
                              std::size_t size, std::size_t bpp, std::size_t count) {
    for (std::size_t r = 0; r < count; ++r) {
        UnfilterPaeth_scalar(first + r * stride, previous, size, bpp);
        previous = first + r * stride;
    }
}

void SplitRgba_scalar(const std::uint8_t* rgba, std::uint8_t* bgr, std::uint8_t* alpha, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        bgr[3 * x] = rgba[4 * x + 2];
        bgr[3 * x + 1] = rgba[4 * x + 1];
        bgr[3 * x + 2] = rgba[4 * x];
        alpha[x] = rgba[4 * x + 3];
    }
}

void SwapRedAndBlue_scalar(const std::uint8_t* rgb, std::uint8_t* bgr, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        bgr[3 * x] = rgb[3 * x + 2];
        bgr[3 * x + 1] = rgb[3 * x + 1];
        bgr[3 * x + 2] = rgb[3 * x];
    }
}
