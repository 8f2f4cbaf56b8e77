// PNG into a whole picture: the row reader's rows, one batch at a time,
// straight into the picture's buffer.
#include <algorithm>
#include <memory>
#include <new>

#include "image/own_readers.h"
#include "stream/png_row_reader.h"

namespace {

// Rows converted a batch at a time: the alpha of a batch waits in a buffer
// of its own until the collector has seen it.
constexpr std::uint32_t kBatchRows = 64;

}  // namespace

ReadResult ReadPng(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    PngRowReader reader(file, maxPixels, deepSamples);
    if (const char* reason = reader.Start()) {
        ReadResult refused;
        return reason == kPngTooManyPixels &&
                       RefuseTooManyPixels(reader.Facts().width, reader.Facts().height, maxPixels, refused)
                   ? refused
                   : Declined(reason);
    }
    const PngFacts& facts = reader.Facts();
    const auto width = static_cast<std::int32_t>(facts.width);
    const auto height = static_cast<std::int32_t>(facts.height);
    DecodeBuffer buffer(width, height, ImageBufferSize(width, height));
    OwnedPlane widePlane(facts.wide ? DeepPlaneSize(width, height, Samples::Bits16) : 0);
    AlphaCollector alphaCollector(width, height);
    const std::size_t alphaBatch = facts.alphaRows ? std::size_t{kBatchRows} * facts.width : 0;
    const std::unique_ptr<std::uint8_t[]> alphaRows(facts.alphaRows ? new (std::nothrow) std::uint8_t[alphaBatch] : nullptr);
    if (buffer.Data() == nullptr || (facts.wide && widePlane.Data() == nullptr) ||
        (facts.alphaRows && alphaRows == nullptr)) {
        return Declined("no memory for the picture");
    }
    const std::size_t pixelStride = std::size_t{facts.width} * 3;
    const std::size_t wideStride = std::size_t{facts.width} * 4;
    for (std::uint32_t y = 0; y < facts.height; y += kBatchRows) {
        const std::uint32_t rows = std::min(kBatchRows, facts.height - y);
        RowsOut out;
        out.pixels = buffer.Data() + y * pixelStride;
        out.pixelStride = pixelStride;
        out.alpha = alphaRows.get();
        out.alphaStride = facts.width;
        out.wide = facts.wide ? static_cast<std::uint16_t*>(widePlane.Data()) + y * wideStride : nullptr;
        out.wideStride = wideStride;
        if (const char* reason = reader.ReadRows(rows, out)) {
            return Declined(reason);
        }
        for (std::uint32_t i = 0; facts.alphaRows && i < rows; ++i) {
            if (!alphaCollector.TakeRow(static_cast<std::int32_t>(y + i), alphaRows.get() + i * facts.width)) {
                return Declined("no memory for the alpha");
            }
        }
    }
    if (const char* reason = reader.Finish()) {
        return Declined(reason);
    }
    Image* image = buffer.TakeImage();
    if (image == nullptr) {
        return Declined("no memory for the picture");
    }
    if (facts.wide) {
        image->samples = Samples::Bits16;
        image->deep = widePlane.Release();
        image->storesAlpha = facts.transparency;
    } else if (facts.alphaRows) {
        alphaCollector.Attach(image);
    }
    image->shownAsIs = facts.shownAsIs;
    return ReadResult{image, nullptr};
}
