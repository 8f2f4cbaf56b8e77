#include "image/frame_row_reader.h"

#include <cstring>

#include "common/log.h"
#include "image/image_file.h"
#include "image/own_readers.h"

FrameRowReader::FrameRowReader(std::FILE* pictureFile, std::uint64_t pixelLimit, bool deep)
    : file(pictureFile), maxPixels(pixelLimit), deepSamples(deep) {}

FrameRowReader::~FrameRowReader() { DestroyImage(image); }

const char* FrameRowReader::Start() {
    try {
        image = LoadImageFileWithLibrary(file, maxPixels, deepSamples);
    } catch (const FatalError&) {
        return "the library refused it";
    }
    if (image->samples != Samples::Bits8 && image->samples != Samples::Bits16) {
        return "samples that are not integers";
    }
    facts.width = static_cast<std::uint32_t>(image->width);
    facts.height = static_cast<std::uint32_t>(image->height);
    facts.wide = image->samples == Samples::Bits16;
    facts.transparency = image->storesAlpha;
    facts.alphaRows = image->alpha != nullptr;
    facts.shownAsIs = image->shownAsIs;
    return nullptr;
}

const char* FrameRowReader::ReadRows(std::uint32_t count, const RowsOut& out) {
    const auto width = static_cast<std::size_t>(image->width);
    for (std::uint32_t i = 0; i < count; ++i, ++nextRow) {
        const std::size_t row = nextRow;
        std::memcpy(out.pixels + i * out.pixelStride, image->pixels + row * width * 3, width * 3);
        if (out.alpha != nullptr) {
            std::memcpy(out.alpha + i * out.alphaStride, image->alpha + row * width, width);
        }
        if (out.wide != nullptr) {
            const auto* deep = static_cast<const std::uint16_t*>(image->deep);
            std::memcpy(out.wide + i * out.wideStride, deep + row * width * 4, width * 4 * sizeof(std::uint16_t));
        }
    }
    return nullptr;
}

std::unique_ptr<RowReader> OpenRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    std::unique_ptr<RowReader> own = OpenOwnRowReader(file, maxPixels, deepSamples);
    if (own != nullptr) {
        return own;
    }
    return std::make_unique<FrameRowReader>(file, maxPixels, deepSamples);
}
