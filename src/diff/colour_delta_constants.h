// The constants of the YIQ measure, shared by the kernels and their
// scalar twins (colour_delta.h).
#pragma once

#include <cstdint>

constexpr int kYiqShift = 12;
constexpr std::int64_t kYiqOne = std::int64_t{1} << kYiqShift;
constexpr double kLargestYiqDelta = 35215.0;

// Y, I and Q of red, green and blue.
constexpr double kYiqCoefficients[3][3] = {
    {0.29889531, 0.58662247, 0.11448223},
    {0.59597799, -0.27417610, -0.32180189},
    {0.21147017, -0.52261711, 0.31114694},
};
constexpr double kBrightness[3] = {kYiqCoefficients[0][0], kYiqCoefficients[0][1], kYiqCoefficients[0][2]};

// Scaled by 4096 and truncated toward zero, as the counts' fixed point has
// them: each fits 16 bits.
constexpr std::int64_t Fixed(double value) { return static_cast<std::int64_t>(value * double{kYiqOne}); }
constexpr std::int64_t kYiq[3][3] = {
    {Fixed(kYiqCoefficients[0][0]), Fixed(kYiqCoefficients[0][1]), Fixed(kYiqCoefficients[0][2])},
    {Fixed(kYiqCoefficients[1][0]), Fixed(kYiqCoefficients[1][1]), Fixed(kYiqCoefficients[1][2])},
    {Fixed(kYiqCoefficients[2][0]), Fixed(kYiqCoefficients[2][1]), Fixed(kYiqCoefficients[2][2])},
};
constexpr std::int64_t kYiqWeight[3] = {Fixed(0.5053), Fixed(0.299), Fixed(0.1957)};
