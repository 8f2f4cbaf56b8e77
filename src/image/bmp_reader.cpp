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
#include "stream/pixel_rows.h"

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

// What the header says of the pixel data.
struct Layout {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool topDown = false;
    std::size_t bytesPerPixel = 0;
    std::size_t pitch = 0;
    std::size_t dataBytes = 0;
    std::uint32_t pixelOffset = 0;
    bool bitFields = false;
};

// Null, or why the file is declined.
const char* ParseHead(const std::uint8_t* head, Layout& layout) {
    if (head[0] != 'B' || head[1] != 'M') {
        return "header";
    }
    layout.pixelOffset = LittleEndian32(head + 10);
    if (LittleEndian32(head + 14) != kInfoBytes) {
        return "info header kind";
    }
    layout.width = static_cast<std::int32_t>(LittleEndian32(head + 18));
    const auto signedHeight = static_cast<std::int32_t>(LittleEndian32(head + 22));
    const std::uint16_t planes = LittleEndian16(head + 26);
    const std::uint16_t bitsPerPixel = LittleEndian16(head + 28);
    const std::uint32_t compression = LittleEndian32(head + 30);
    layout.bitFields = compression == 3;
    if (planes != 1 || (bitsPerPixel != 24 && bitsPerPixel != 32) ||
        !(compression == 0 || (layout.bitFields && bitsPerPixel == 32))) {
        return "pixel format";
    }
    if (layout.width <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) {
        return "size";
    }
    layout.topDown = signedHeight < 0;
    layout.height = layout.topDown ? -signedHeight : signedHeight;
    layout.bytesPerPixel = bitsPerPixel / 8u;
    layout.pitch = (static_cast<std::size_t>(layout.width) * bitsPerPixel + 31) / 32 * 4;
    layout.dataBytes = layout.pitch * static_cast<std::size_t>(layout.height);
    return nullptr;
}

// Reads the rows from the file's position into `out`, in reading order;
// null, or why the file is declined.
const char* ReadRows(std::FILE* file, const Layout& layout, std::uint8_t* out) {
    const std::size_t rowsPerSlice = std::max<std::size_t>(1, kSliceBytes / layout.pitch);
    const std::unique_ptr<std::uint8_t[]> slice(
        new (std::nothrow) std::uint8_t[rowsPerSlice * layout.pitch]);
    if (slice == nullptr) {
        return "no memory for a slice";
    }
    const auto width = static_cast<std::size_t>(layout.width);
    const auto height = static_cast<std::size_t>(layout.height);
    const std::size_t outRow = width * 3;
    for (std::size_t first = 0; first < height; first += rowsPerSlice) {
        const std::size_t rows = std::min(rowsPerSlice, height - first);
        if (std::fread(slice.get(), layout.pitch, rows, file) != rows) {
            return "unreadable";
        }
        for (std::size_t i = 0; i < rows; ++i) {
            const std::size_t fileRow = first + i;
            const std::size_t y = layout.topDown ? fileRow : height - 1 - fileRow;
            const std::uint8_t* source = slice.get() + i * layout.pitch;
            if (layout.bytesPerPixel == 3) {
                std::memcpy(out + y * outRow, source, outRow);
            } else {
                CopyWithoutFourthByte(source, out + y * outRow, width);
            }
        }
    }
    return nullptr;
}

}  // namespace

ReadResult ReadBmp(std::FILE* file, std::uint64_t size, std::uint64_t maxPixels) {
    std::uint8_t head[kHeadBytes] = {};
    if (std::fread(head, 1, sizeof head, file) < kHeadBytes) {
        return Declined("header");
    }
    Layout layout;
    if (const char* reason = ParseHead(head, layout)) {
        return Declined(reason);
    }
    ReadResult refused;
    if (RefuseTooManyPixels(static_cast<std::uint32_t>(layout.width),
                            static_cast<std::uint32_t>(layout.height), maxPixels, refused)) {
        return refused;
    }
    // The library computes the pixel data's size in 32 bits.
    if (layout.dataBytes >= (std::size_t{1} << 31)) {
        return Declined("size");
    }
    if (layout.pixelOffset < kHeadBytes + (layout.bitFields ? 12 : 0)) {
        return Declined("pixel data inside the header");
    }
    if (size < std::uint64_t{layout.pixelOffset} + layout.dataBytes) {
        return Declined("truncated");
    }
    if (std::fseek(file, static_cast<long>(layout.pixelOffset), SEEK_SET) != 0) {
        return Declined("unreadable");
    }
    // Without memory for the picture the library's own attempt tells the
    // outcome, in its words.
    DecodeBuffer buffer(layout.width, layout.height, ImageBufferSize(layout.width, layout.height));
    if (buffer.Data() == nullptr) {
        return Declined("no memory for the picture");
    }
    if (const char* reason = ReadRows(file, layout, buffer.Data())) {
        return Declined(reason);
    }
    Image* image = buffer.TakeImage();
    return image != nullptr ? ReadResult{image, nullptr} : Declined("no memory for the picture");
}
