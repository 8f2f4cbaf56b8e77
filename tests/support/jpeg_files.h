// JPEG files made by libjpeg-turbo's encoder with the settings encoders
// vary: chroma subsampling, restart markers, progressive and arithmetic
// coding, grey and RGB colour, and CMYK, which our reader declines.
#pragma once

#include <string>

#include "support/pictures.h"

struct JpegSettings {
    int quality = 90;
    int horizontalSampling = 2;  // of the first component; 1 for 4:4:4
    int verticalSampling = 2;
    int restartRows = 0;         // restart marker every n MCU rows (0: none)
    bool progressive = false;
    bool arithmetic = false;
    enum Colour { YCbCr, Grey, Rgb, Cmyk } colour = YCbCr;
};

std::string MakeJpeg(const Pixels24& pixels, const JpegSettings& settings);
