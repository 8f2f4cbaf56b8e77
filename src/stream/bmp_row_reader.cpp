#include "stream/bmp_row_reader.h"

#include <climits>
#include <cstring>

#include "platform/platform.h"
#include "stream/pixel_rows.h"

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
// The file header and a BITMAPINFOHEADER, the one info header the library
// takes for these depths (it refuses the V4 and V5 headers).
constexpr std::size_t kInfoBytes = 40;
constexpr std::size_t kHeadBytes = kFileHeaderBytes + kInfoBytes;

std::uint32_t LittleEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t LittleEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

BmpRowReader::BmpRowReader(std::FILE* input, std::uint64_t pixelLimit) : file(input), maxPixels(pixelLimit) {}

const char* BmpRowReader::Start() {
    std::uint8_t head[kHeadBytes] = {};
    if (std::fread(head, 1, sizeof head, file) < kHeadBytes || head[0] != 'B' || head[1] != 'M') {
        return "header";
    }
    pixelOffset = LittleEndian32(head + 10);
    if (LittleEndian32(head + 14) != kInfoBytes) {
        return "info header kind";
    }
    const auto width = static_cast<std::int32_t>(LittleEndian32(head + 18));
    const auto signedHeight = static_cast<std::int32_t>(LittleEndian32(head + 22));
    const std::uint16_t bitsPerPixel = LittleEndian16(head + 28);
    const std::uint32_t compression = LittleEndian32(head + 30);
    const bool bitFields = compression == 3;
    if (LittleEndian16(head + 26) != 1 || (bitsPerPixel != 24 && bitsPerPixel != 32) ||
        !(compression == 0 || (bitFields && bitsPerPixel == 32))) {
        return "pixel format";
    }
    if (width <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) {
        return "size";
    }
    topDown = signedHeight < 0;
    facts.width = static_cast<std::uint32_t>(width);
    facts.height = static_cast<std::uint32_t>(topDown ? -signedHeight : signedHeight);
    if (maxPixels != 0 && std::uint64_t{facts.width} * facts.height > maxPixels) {
        return kTooManyPixels;
    }
    bytesPerPixel = bitsPerPixel / 8u;
    pitch = (std::size_t{facts.width} * bitsPerPixel + 31) / 32 * 4;
    const std::size_t dataBytes = pitch * facts.height;
    // The library computes the pixel data's size in 32 bits.
    if (dataBytes >= (std::size_t{1} << 31)) {
        return "size";
    }
    if (pixelOffset < kHeadBytes + (bitFields ? 12 : 0)) {
        return "pixel data inside the header";
    }
    FileIdentity identity;
    if (!QueryOpenFileIdentity(file, identity) || identity.size < std::uint64_t{pixelOffset} + dataBytes) {
        return "truncated";
    }
    return nullptr;
}

const char* BmpRowReader::ReadRows(std::uint32_t count, const RowsOut& out) {
    // Rows y .. y + count - 1 lie together in the file, in reverse order
    // where the file is bottom-up.
    const std::uint32_t y = nextRow;
    const std::size_t firstFileRow = topDown ? y : facts.height - y - count;
    slice.resize(count * pitch);
    if (std::fseek(file, static_cast<long>(pixelOffset + firstFileRow * pitch), SEEK_SET) != 0 ||
        std::fread(slice.data(), pitch, count, file) != count) {
        return "unreadable";
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* source = slice.data() + (topDown ? i : count - 1 - i) * pitch;
        std::uint8_t* target = out.pixels + i * out.pixelStride;
        if (bytesPerPixel == 3) {
            std::memcpy(target, source, std::size_t{facts.width} * 3);
        } else {
            CopyWithoutFourthByte(source, target, facts.width);
        }
    }
    nextRow += count;
    return nullptr;
}
