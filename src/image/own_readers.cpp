#include "image/own_readers.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "stream/bmp_row_reader.h"
#include "stream/jpeg_row_reader.h"
#include "stream/png_row_reader.h"

OwnFormat RecogniseOwnFormat(const std::uint8_t* head, std::size_t size) {
    // The library asks its formats in turn and BMP comes first; none of
    // those before PNG can claim a file that starts with its signature.
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(head, kPngSignature, 8) == 0) {
        return OwnFormat::Png;
    }
    if (size >= 2 && head[0] == 'B' && head[1] == 'M') {
        return OwnFormat::Bmp;
    }
    // The library asks for FF D8 alone; a marker must follow.
    if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        return OwnFormat::Jpeg;
    }
    return OwnFormat::None;
}

bool RefuseTooManyPixels(std::uint32_t width, std::uint32_t height, std::uint64_t maxPixels,
                         ReadResult& result) {
    if (maxPixels == 0 || std::uint64_t{width} * height <= maxPixels) {
        return false;
    }
    result = ReadResult{nullptr, nullptr, true, width, height};
    return true;
}

namespace {

// The format of a regular file, from its first bytes; the file is left at
// its start.
OwnFormat FormatOf(std::FILE* file, std::uint64_t& size) {
    FileIdentity identity;
    if (!QueryOpenFileIdentity(file, identity) || !identity.isRegular) {
        return OwnFormat::None;
    }
    size = identity.size;
    std::uint8_t head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return OwnFormat::None;
    }
    return RecogniseOwnFormat(head, got);
}

}  // namespace

bool LooksLikeOwnFormat(std::FILE* file) {
    std::uint64_t size = 0;
    return FormatOf(file, size) != OwnFormat::None;
}

std::unique_ptr<RowReader> OpenOwnRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    std::uint64_t size = 0;
    switch (file != nullptr ? FormatOf(file, size) : OwnFormat::None) {
    case OwnFormat::Png: return std::make_unique<PngRowReader>(file, maxPixels, deepSamples);
    case OwnFormat::Bmp: return std::make_unique<BmpRowReader>(file, maxPixels);
    case OwnFormat::Jpeg: return std::make_unique<JpegRowReader>(file, maxPixels);
    default: return nullptr;
    }
}

namespace {

// Rows are read a batch at a time straight into the picture's buffer; the
// alpha of a batch waits in a buffer of its own until the collector has
// seen it.
constexpr std::uint32_t kBatchRows = 64;

// The rows of a started reader into `image`'s buffer and planes; null, or
// why the file is declined.
const char* ReadAllRows(RowReader& reader, std::uint8_t* pixels, OwnedPlane& widePlane,
                        AlphaCollector& alphaCollector) {
    const RowFacts& facts = reader.Facts();
    const std::unique_ptr<std::uint8_t[]> alphaRows(
        facts.alphaRows ? new (std::nothrow) std::uint8_t[std::size_t{kBatchRows} * facts.width] : nullptr);
    if (facts.alphaRows && alphaRows == nullptr) {
        return "no memory for the alpha";
    }
    const std::size_t pixelStride = std::size_t{facts.width} * 3;
    const std::size_t wideStride = std::size_t{facts.width} * 4;
    for (std::uint32_t y = 0; y < facts.height; y += kBatchRows) {
        const std::uint32_t rows = std::min(kBatchRows, facts.height - y);
        RowsOut out;
        out.pixels = pixels + y * pixelStride;
        out.pixelStride = pixelStride;
        out.alpha = alphaRows.get();
        out.alphaStride = facts.width;
        out.wide = facts.wide ? static_cast<std::uint16_t*>(widePlane.Data()) + y * wideStride : nullptr;
        out.wideStride = wideStride;
        if (const char* reason = reader.ReadRows(rows, out)) {
            return reason;
        }
        for (std::uint32_t i = 0; facts.alphaRows && i < rows; ++i) {
            if (!alphaCollector.TakeRow(static_cast<std::int32_t>(y + i), alphaRows.get() + i * facts.width)) {
                return "no memory for the alpha";
            }
        }
    }
    return reader.Finish();
}

// The whole picture, read row by row. Without memory for it the library's
// own attempt tells the outcome, in its words.
ReadResult ReadWhole(RowReader& reader, std::uint64_t maxPixels) {
    if (const char* reason = reader.Start()) {
        ReadResult refused;
        return reason == kTooManyPixels &&
                       RefuseTooManyPixels(reader.Facts().width, reader.Facts().height, maxPixels, refused)
                   ? refused
                   : Declined(reason);
    }
    const RowFacts& facts = reader.Facts();
    const auto width = static_cast<std::int32_t>(facts.width);
    const auto height = static_cast<std::int32_t>(facts.height);
    DecodeBuffer buffer(width, height, ImageBufferSize(width, height));
    OwnedPlane widePlane(facts.wide ? DeepPlaneSize(width, height, Samples::Bits16) : 0);
    AlphaCollector alphaCollector(width, height);
    if (buffer.Data() == nullptr || (facts.wide && widePlane.Data() == nullptr)) {
        return Declined("no memory for the picture");
    }
    if (const char* reason = ReadAllRows(reader, buffer.Data(), widePlane, alphaCollector)) {
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

}  // namespace

ReadResult ReadWithOwnReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    const std::unique_ptr<RowReader> reader = OpenOwnRowReader(file, maxPixels, deepSamples);
    return reader != nullptr ? ReadWhole(*reader, maxPixels) : Declined("not a format of ours");
}
