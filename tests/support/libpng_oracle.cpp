#include "support/libpng_oracle.h"

#include <png.h>

#include <cstring>

bool HasLowGreyColourKey(const std::uint8_t* bytes, std::size_t size) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 33 || std::memcmp(bytes, kSignature, 8) != 0 || std::memcmp(bytes + 12, "IHDR", 4) != 0) {
        return false;
    }
    const std::uint8_t depth = bytes[24];
    const std::uint8_t colourType = bytes[25];
    const std::string all(reinterpret_cast<const char*>(bytes), size);
    return colourType == 0 && depth < 8 && all.find("tRNS") != std::string::npos;
}

std::vector<std::uint8_t> AlphaByLibpng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return {};
    }
    image.format = PNG_FORMAT_GA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return {};
    }
    std::vector<std::uint8_t> alpha(pixels.size() / 2);
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        alpha[i] = pixels[2 * i + 1];
    }
    return alpha;
}
