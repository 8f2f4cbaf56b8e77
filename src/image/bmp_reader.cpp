// Uncompressed 24- and 32-bit BMP, read in slices straight into the
// picture's rows: the library would load the file into a frame of its own
// and copy it once more. Its result is kept exactly: the pixel bytes
// (blue, green, red) as stored, the fourth byte of 32-bit pixels dropped
// whatever its bit masks say, bottom-up or top-down rows in reading order.
// Anything else (palettes, 16 bits, RLE, other headers, a file cut short,
// pixel data inside the header) is declined.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/own_readers.h"
#include "image/pixel_rows.h"

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
// The file header and a BITMAPINFOHEADER, the one info header the library
// takes for these depths (it refuses the V4 and V5 headers).
constexpr std::size_t kInfoBytes = 40;
constexpr std::size_t kHeadBytes = kFileHeaderBytes + kInfoBytes;
// Rows are read in slices of about this many bytes.
constexpr std::size_t kSliceBytes = std::size_t{1} << 20;

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t LittleEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

ReadResult ReadBmp(std::FILE* file, std::uint64_t size, std::uint64_t maxPixels) {
    std::uint8_t head[kHeadBytes] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (got < kHeadBytes || head[0] != 'B' || head[1] != 'M') {
        return Declined("header");
    }
    const std::uint32_t pixelOffset = LittleEndian32(head + 10);
    const std::uint32_t infoSize = LittleEndian32(head + 14);
    if (infoSize != kInfoBytes) {
        return Declined("info header kind");
    }
    const auto width = static_cast<std::int32_t>(LittleEndian32(head + 18));
    const auto signedHeight = static_cast<std::int32_t>(LittleEndian32(head + 22));
    const std::uint16_t planes = LittleEndian16(head + 26);
    const std::uint16_t bitsPerPixel = LittleEndian16(head + 28);
    const std::uint32_t compression = LittleEndian32(head + 30);
    const bool bitFields = compression == 3;
    if (planes != 1 || (bitsPerPixel != 24 && bitsPerPixel != 32) ||
        !(compression == 0 || (bitFields && bitsPerPixel == 32))) {
        return Declined("pixel format");
    }
    if (width <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) {
        return Declined("size");
    }
    const bool topDown = signedHeight < 0;
    const std::int32_t height = topDown ? -signedHeight : signedHeight;
    ReadResult refused;
    if (RefuseTooManyPixels(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                            maxPixels, refused)) {
        return refused;
    }

    // The library computes the pixel data's size in 32 bits.
    const std::size_t bytesPerPixel = bitsPerPixel / 8u;
    const std::size_t pitch = (static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32 * 4;
    const std::size_t dataBytes = pitch * static_cast<std::size_t>(height);
    if (dataBytes >= (std::size_t{1} << 31)) {
        return Declined("size");
    }
    const std::size_t masks = bitFields ? 12 : 0;
    if (pixelOffset < kHeadBytes + masks) {
        return Declined("pixel data inside the header");
    }
    if (size < std::uint64_t{pixelOffset} + dataBytes) {
        return Declined("truncated");
    }
    if (std::fseek(file, static_cast<long>(pixelOffset), SEEK_SET) != 0) {
        return Declined("unreadable");
    }

    // Without memory for the picture the library's own attempt tells the
    // outcome, in its words.
    DecodeBuffer buffer(width, height, ImageBufferSize(width, height));
    if (buffer.Data() == nullptr) {
        return Declined("no memory for the picture");
    }
    const std::size_t rowsPerSlice = std::max<std::size_t>(1, kSliceBytes / pitch);
    const std::unique_ptr<std::uint8_t[]> slice(new (std::nothrow) std::uint8_t[rowsPerSlice * pitch]);
    if (slice == nullptr) {
        return Declined("no memory for a slice");
    }
    const std::size_t outRow = static_cast<std::size_t>(width) * 3;
    for (std::size_t first = 0; first < static_cast<std::size_t>(height); first += rowsPerSlice) {
        const std::size_t rows = std::min(rowsPerSlice, static_cast<std::size_t>(height) - first);
        if (std::fread(slice.get(), pitch, rows, file) != rows) {
            return Declined("unreadable");
        }
        for (std::size_t i = 0; i < rows; ++i) {
            const std::size_t fileRow = first + i;
            const std::size_t y = topDown ? fileRow : static_cast<std::size_t>(height) - 1 - fileRow;
            const std::uint8_t* source = slice.get() + i * pitch;
            std::uint8_t* target = buffer.Data() + y * outRow;
            if (bytesPerPixel == 3) {
                std::memcpy(target, source, outRow);
            } else {
                CopyWithoutFourthByte(source, target, static_cast<std::size_t>(width));
            }
        }
    }
    Image* image = buffer.TakeImage();
    return image != nullptr ? ReadResult{image, nullptr} : Declined("no memory for the picture");
}
