#include "diff/colour_delta.h"

#include "diff/colour_delta_constants.h"

std::int64_t YiqLimit(double threshold) {
    return static_cast<std::int64_t>(kLargestYiqDelta * (threshold * threshold) * double{kYiqOne});
}

namespace {

// A channel blended over white by `alpha`, in 1/4096 units; the division
// truncates toward zero, as the counts' fixed point does.
std::int64_t BlendedChannel(std::uint32_t channel, std::uint32_t alpha) {
    const std::int64_t white = std::int64_t{255} * kYiqOne;
    if (alpha == 0) {
        return white;
    }
    if (alpha == 255) {
        return std::int64_t{channel} * kYiqOne;
    }
    return white + (std::int64_t{channel} - 255) * alpha * kYiqOne / 255;
}

struct Yiq {
    std::int64_t y;
    std::int64_t i;
    std::int64_t q;
};

// Y, I and Q in 1/4096 units; >> rounds down, negative values included.
Yiq YiqOf(Rgba pixel) {
    const std::uint32_t alpha = pixel >> 24;
    const std::int64_t r = BlendedChannel(pixel & 0xff, alpha);
    const std::int64_t g = BlendedChannel((pixel >> 8) & 0xff, alpha);
    const std::int64_t b = BlendedChannel((pixel >> 16) & 0xff, alpha);
    return Yiq{(r * kYiq[0][0] + g * kYiq[0][1] + b * kYiq[0][2]) >> kYiqShift,
               (r * kYiq[1][0] + g * kYiq[1][1] + b * kYiq[1][2]) >> kYiqShift,
               (r * kYiq[2][0] + g * kYiq[2][1] + b * kYiq[2][2]) >> kYiqShift};
}

std::int64_t WeighedDelta(std::int64_t dy, std::int64_t di, std::int64_t dq) {
    return (dy * dy * kYiqWeight[0] + di * di * kYiqWeight[1] + dq * dq * kYiqWeight[2]) >> (2 * kYiqShift);
}

}  // namespace

std::int64_t YiqDelta(Rgba a, Rgba b) {
    const Yiq ya = YiqOf(a);
    const Yiq yb = YiqOf(b);
    return WeighedDelta(ya.y - yb.y, ya.i - yb.i, ya.q - yb.q);
}

namespace {

// value * c for every sample value, rounded as the product at run time is
// (the compiler folds it in IEEE double precision too).
constexpr BrightnessProducts MakeProducts() {
    BrightnessProducts products{};
    for (std::size_t channel = 0; channel < 3; ++channel) {
        for (std::size_t value = 0; value < 256; ++value) {
            products[channel][value] = static_cast<double>(value) * kBrightness[channel];
        }
    }
    return products;
}

}  // namespace

extern const BrightnessProducts kBrightnessProducts = MakeProducts();

double BlendedBrightness(Rgba pixel) {
    const double alpha = static_cast<double>(pixel >> 24);
    double r = static_cast<double>(pixel & 0xff);
    double g = static_cast<double>((pixel >> 8) & 0xff);
    double b = static_cast<double>((pixel >> 16) & 0xff);
    if (alpha == 0) {
        r = g = b = 255.0;
    } else if (alpha < 255.0) {
        const double share = alpha / 255.0;
        r = 255.0 + (r - 255.0) * share;
        g = 255.0 + (g - 255.0) * share;
        b = 255.0 + (b - 255.0) * share;
    }
    return r * kBrightness[0] + g * kBrightness[1] + b * kBrightness[2];
}

void YiqBeyond_scalar(const ChannelDifferences& d, std::size_t count, std::int64_t limit, std::uint8_t* beyond) {
    for (std::size_t n = 0; n < count; ++n) {
        const std::int64_t dr = d.red[n];
        const std::int64_t dg = d.green[n];
        const std::int64_t db = d.blue[n];
        // Opaque: each channel is its value times 4096, so the shift is exact.
        const std::int64_t dy = dr * kYiq[0][0] + dg * kYiq[0][1] + db * kYiq[0][2];
        const std::int64_t di = dr * kYiq[1][0] + dg * kYiq[1][1] + db * kYiq[1][2];
        const std::int64_t dq = dr * kYiq[2][0] + dg * kYiq[2][1] + db * kYiq[2][2];
        beyond[n] = WeighedDelta(dy, di, dq) > limit ? 1 : 0;
    }
}
