// PNG straight into the picture buffer: the chunks are checked and their
// IDAT data gathered in the file's own buffer, inflated in one call by
// libdeflate into the end of the picture's block, and unfiltered and
// converted row by row towards its start, where the rows of the 24-bit
// form land without ever overtaking the rows still to be read.
//
// The result is what the library gives (PNG_IGNOREGAMMA, then the 24-bit
// conversion): blue, green, red of each pixel; 16-bit samples by their
// high byte; grey repeated in all three; palette entries as colours. Beside
// it, what the library's native bitmap holds: the alpha of colour types 4
// and 6 and of tRNS chunks (palette entries, or 0 where a pixel matches the
// colour key), and 16-bit samples whole. Whatever the library might read
// otherwise (interlacing, checksum errors, chunks out of place, streams
// too short or too long, sizes beyond libpng's limits) is declined.
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/file_bytes.h"
#include "image/own_readers.h"
#include "image/pixel_rows.h"
#include "image/png_rows.h"
#include "platform/platform.h"

namespace {

// libpng's own limits on width and height, which the library keeps.
constexpr std::uint32_t kMaxSide = 1000000;

enum ColourType { kGrey = 0, kRgb = 2, kPalette = 3, kGreyAlpha = 4, kRgba = 6 };

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool ValidDepth(int colourType, int depth) {
    switch (colourType) {
    case kGrey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case kPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
    case kGreyAlpha:
    case kRgba: return depth == 8 || depth == 16;
    default: return false;
    }
}

std::size_t SamplesPerPixel(int colourType) {
    switch (colourType) {
    case kRgb: return 3;
    case kGreyAlpha: return 2;
    case kRgba: return 4;
    default: return 1;
    }
}

// A colour of the 24-bit form, for indexed pixels: palette entries, and
// grey levels below 8 bits stretched to 0..255 as libpng expands them.
struct Entry {
    std::uint8_t blue, green, red, valid;
};

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int depth = 0;
    int colourType = 0;
    std::size_t rowBytes = 0;       // one raw row, without its filter byte
    std::size_t pixelBytes = 0;     // bytes of a whole pixel, at least 1
};

const char* ParseHeader(const std::uint8_t* data, std::uint32_t length, Header& header) {
    if (length != 13) {
        return "IHDR length";
    }
    header.width = BigEndian32(data);
    header.height = BigEndian32(data + 4);
    header.depth = data[8];
    header.colourType = data[9];
    if (header.width == 0 || header.height == 0 || header.width > kMaxSide ||
        header.height > kMaxSide) {
        return "size beyond libpng's limits";
    }
    if (!ValidDepth(header.colourType, header.depth)) {
        return "colour type or bit depth";
    }
    if (data[10] != 0 || data[11] != 0) {
        return "compression or filter method";
    }
    if (data[12] != 0) {
        return "interlaced";
    }
    const std::size_t bits = SamplesPerPixel(header.colourType) * static_cast<std::size_t>(header.depth);
    header.rowBytes = (header.width * bits + 7) / 8;
    header.pixelBytes = std::max<std::size_t>(1, bits / 8);
    return nullptr;
}

// Looks up each Depth-bit index (packed from the high bits down); false
// when one has no entry.
template <int Depth>
bool LookUpIndices(const std::uint8_t* raw, std::uint8_t* out, std::size_t width,
                   const Entry* entries) {
    constexpr int kPerByte = 8 / Depth;
    constexpr unsigned kMask = (1u << Depth) - 1;
    unsigned valid = 1;
    for (std::size_t x = 0; x < width; ++x) {
        const int shift = 8 - Depth * (1 + static_cast<int>(x % kPerByte));
        const Entry& entry = entries[(raw[x / kPerByte] >> shift) & kMask];
        out[3 * x] = entry.blue;
        out[3 * x + 1] = entry.green;
        out[3 * x + 2] = entry.red;
        valid &= entry.valid;
    }
    return valid != 0;
}

// One unfiltered row into the 24-bit form; false when a palette index has
// no entry.
bool ConvertRow(const Header& header, const std::uint8_t* raw, std::uint8_t* out,
                const Entry* entries) {
    const std::size_t width = header.width;
    const bool wide = header.depth == 16;
    switch (header.colourType) {
    case kRgb:
        wide ? PickChannels<6, 4, 2, 0>(raw, out, width) : SwapRedAndBlue(raw, out, width);
        return true;
    case kRgba:
        wide ? PickChannels<8, 4, 2, 0>(raw, out, width) : PickChannels<4, 2, 1, 0>(raw, out, width);
        return true;
    case kGreyAlpha:
        wide ? PickChannels<4, 0, 0, 0>(raw, out, width) : PickChannels<2, 0, 0, 0>(raw, out, width);
        return true;
    default:
        break;
    }
    if (header.colourType == kGrey && header.depth >= 8) {
        wide ? PickChannels<2, 0, 0, 0>(raw, out, width) : PickChannels<1, 0, 0, 0>(raw, out, width);
        return true;
    }
    switch (header.depth) {
    case 1: return LookUpIndices<1>(raw, out, width, entries);
    case 2: return LookUpIndices<2>(raw, out, width, entries);
    case 4: return LookUpIndices<4>(raw, out, width, entries);
    default: return LookUpIndices<8>(raw, out, width, entries);
    }
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// What the chunk walk gathers. The IDAT data is gathered at the start of
// the file's buffer, behind the chunks already read.
struct Chunks {
    Header header;
    Entry entries[256] = {};
    std::size_t paletteEntries = 0;
    // From tRNS: each palette entry's alpha, or the colour key (grey, or
    // red, green, blue) as stored.
    std::uint8_t paletteAlpha[256];
    bool haveKey = false;
    std::uint16_t key[3] = {0, 0, 0};
    bool storesAlpha = false;
    // A gAMA, cHRM, sRGB or iCCP chunk: a browser adjusts what it shows.
    bool colourManaged = false;
    bool haveHeader = false;
    bool inData = false;
    bool dataDone = false;  // an ancillary chunk came after IDAT
    bool ended = false;
    std::size_t streamSize = 0;
};

// The walk's answer for a header beyond the pixel limit (compared by
// address, never shown as a reason).
const char* const kTooManyPixels = "too many pixels";

const char* TakeHeader(const std::uint8_t* data, std::uint32_t length, std::uint64_t maxPixels,
                       Chunks& chunks) {
    if (chunks.haveHeader) {
        return "second IHDR";
    }
    if (const char* reason = ParseHeader(data, length, chunks.header)) {
        return reason;
    }
    if (maxPixels != 0 && std::uint64_t{chunks.header.width} * chunks.header.height > maxPixels) {
        return kTooManyPixels;
    }
    chunks.haveHeader = true;
    return nullptr;
}

const char* TakePalette(const std::uint8_t* data, std::uint32_t length, Chunks& chunks) {
    chunks.paletteEntries = length / 3;
    if (chunks.header.colourType != kPalette || chunks.inData || chunks.dataDone || length % 3 != 0 ||
        chunks.paletteEntries == 0 || chunks.paletteEntries > (std::size_t{1} << chunks.header.depth) ||
        chunks.entries[0].valid != 0) {
        return "PLTE";
    }
    for (std::size_t i = 0; i < chunks.paletteEntries; ++i) {
        chunks.entries[i] = Entry{data[3 * i + 2], data[3 * i + 1], data[3 * i], 1};
    }
    return nullptr;
}

// Only a chunk that libpng takes without complaint is let through, and a
// colour key only within the samples' range.
const char* TakeTransparency(const std::uint8_t* data, std::uint32_t length, Chunks& chunks) {
    const int colourType = chunks.header.colourType;
    const bool fits = (colourType == kPalette && chunks.paletteEntries > 0 &&
                       length <= chunks.paletteEntries) ||
                      (colourType == kGrey && length == 2) || (colourType == kRgb && length == 6);
    if (!fits || chunks.inData || chunks.dataDone) {
        return "tRNS";
    }
    if (colourType == kPalette) {
        std::memcpy(chunks.paletteAlpha, data, length);
        chunks.storesAlpha = length > 0;
        return nullptr;
    }
    // The library reads a key on 1- and 2-bit grey without letting any
    // pixel match it: its reading decides there.
    if (colourType == kGrey && chunks.header.depth < 4) {
        return "colour key on 1- or 2-bit grey";
    }
    for (std::uint32_t i = 0; i < length / 2; ++i) {
        chunks.key[i] = static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
        if (chunks.key[i] >> chunks.header.depth != 0) {
            return "colour key out of range";
        }
    }
    chunks.haveKey = true;
    chunks.storesAlpha = true;
    return nullptr;
}

// One checked chunk; null, or why the file is declined.
const char* TakeChunk(const std::uint8_t* type, const std::uint8_t* data, std::uint32_t length,
                      std::uint8_t* bytes, std::uint64_t maxPixels, Chunks& chunks) {
    if (!chunks.haveHeader && std::memcmp(type, "IHDR", 4) != 0) {
        return "IHDR not first";
    }
    if (std::memcmp(type, "IHDR", 4) == 0) {
        return TakeHeader(data, length, maxPixels, chunks);
    }
    if (std::memcmp(type, "PLTE", 4) == 0) {
        return TakePalette(data, length, chunks);
    }
    if (std::memcmp(type, "tRNS", 4) == 0) {
        return TakeTransparency(data, length, chunks);
    }
    if (std::memcmp(type, "IDAT", 4) == 0) {
        if (chunks.dataDone || (chunks.header.colourType == kPalette && chunks.paletteEntries == 0)) {
            return "IDAT out of place";
        }
        chunks.inData = true;
        std::memmove(bytes + chunks.streamSize, data, length);
        chunks.streamSize += length;
        return nullptr;
    }
    if (std::memcmp(type, "IEND", 4) == 0) {
        chunks.ended = true;
        return length != 0 ? "IEND length" : nullptr;
    }
    if ((type[0] & 0x20) == 0) {
        return "unknown critical chunk";
    }
    for (const char* managed : {"gAMA", "cHRM", "sRGB", "iCCP"}) {
        chunks.colourManaged = chunks.colourManaged || std::memcmp(type, managed, 4) == 0;
    }
    chunks.dataDone = chunks.inData;
    return nullptr;
}

// Checks every chunk of the file in `bytes` and gathers its IDAT data at
// their start; null, or why the file is declined.
const char* WalkChunks(std::uint8_t* bytes, std::size_t size, std::uint64_t maxPixels,
                       Chunks& chunks) {
    std::size_t at = 8;
    while (at < size && !chunks.ended) {
        if (size - at < 12) {
            return "truncated";
        }
        const std::uint32_t length = BigEndian32(bytes + at);
        if (length > 0x7FFFFFFFu || length > size - at - 12) {
            return "truncated";
        }
        const std::uint8_t* type = bytes + at + 4;
        const std::uint8_t* data = type + 4;
        if (libdeflate_crc32(0, type, length + 4u) != BigEndian32(data + length)) {
            return "CRC";
        }
        if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3]) ||
            (type[2] & 0x20) != 0) {
            return "chunk type";
        }
        if (const char* reason = TakeChunk(type, data, length, bytes, maxPixels, chunks)) {
            return reason;
        }
        at += 12 + std::size_t{length};
    }
    if (!chunks.ended) {
        return "truncated";
    }
    if (at != size) {
        return "data after IEND";
    }
    if (!chunks.inData || chunks.streamSize < 2) {
        return "no image data";
    }
    return nullptr;
}

// zlib's own window size: libpng inflates with it, and a distance beyond it
// fails there, while libdeflate would still follow it. Only a stream
// shorter than its window cannot hold such a distance.
bool WindowFits(std::uint8_t zlibHeader, std::size_t inflatedSize) {
    const std::size_t window = std::size_t{1} << ((zlibHeader >> 4) + 8);
    return (zlibHeader & 0x0F) == 8 && (zlibHeader >> 4) <= 7 &&
           (window >= (std::size_t{1} << 15) || inflatedSize <= window);
}

const char* Inflate(const std::uint8_t* stream, std::size_t streamSize, std::uint8_t* raw,
                    std::size_t inflatedSize) {
    const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    if (decompressor == nullptr) {
        return "no memory for the decompressor";
    }
    std::size_t consumed = 0;
    std::size_t produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(
        decompressor.get(), stream, streamSize, raw, inflatedSize, &consumed, &produced);
    if (result != LIBDEFLATE_SUCCESS || produced != inflatedSize) {
        return "compressed data";
    }
    return consumed == streamSize ? nullptr : "data after the compressed stream";
}

// The alpha of each pixel of a row of 8 bits a sample or less, as the
// library's 32-bit or indexed bitmap holds it.
void AlphaRow(const Chunks& chunks, const std::uint8_t* raw, std::uint8_t* alpha) {
    const Header& header = chunks.header;
    const std::size_t width = header.width;
    switch (header.colourType) {
    case kRgba:
        for (std::size_t x = 0; x < width; ++x) {
            alpha[x] = raw[4 * x + 3];
        }
        return;
    case kGreyAlpha:
        for (std::size_t x = 0; x < width; ++x) {
            alpha[x] = raw[2 * x + 1];
        }
        return;
    case kPalette:
        for (std::size_t x = 0; x < width; ++x) {
            alpha[x] = chunks.paletteAlpha[PackedSample(raw, x, static_cast<unsigned>(header.depth))];
        }
        return;
    case kRgb:
        for (std::size_t x = 0; x < width; ++x) {
            const bool keyed = raw[3 * x] == chunks.key[0] && raw[3 * x + 1] == chunks.key[1] &&
                               raw[3 * x + 2] == chunks.key[2];
            alpha[x] = keyed ? 0 : 255;
        }
        return;
    default:
        for (std::size_t x = 0; x < width; ++x) {
            alpha[x] = PackedSample(raw, x, static_cast<unsigned>(header.depth)) == chunks.key[0] ? 0 : 255;
        }
        return;
    }
}

// A row of 16-bit samples as red, green, blue, alpha: grey repeated, alpha
// 0 where the colour key matches and 65535 where the file has none.
void WideRow(const Chunks& chunks, const std::uint8_t* raw, std::uint16_t* out) {
    const Header& header = chunks.header;
    const std::size_t samples = SamplesPerPixel(header.colourType);
    const bool colour = header.colourType == kRgb || header.colourType == kRgba;
    for (std::size_t x = 0; x < header.width; ++x, out += 4) {
        std::uint16_t value[4];
        for (std::size_t c = 0; c < samples; ++c) {
            const std::uint8_t* sample = raw + 2 * (samples * x + c);
            value[c] = static_cast<std::uint16_t>(sample[0] << 8 | sample[1]);
        }
        out[0] = value[0];
        out[1] = colour ? value[1] : value[0];
        out[2] = colour ? value[2] : value[0];
        if (samples == 2 || samples == 4) {
            out[3] = value[samples - 1];
        } else {
            const bool keyed = chunks.haveKey && out[0] == chunks.key[0] &&
                               (!colour || (out[1] == chunks.key[1] && out[2] == chunks.key[2]));
            out[3] = keyed ? 0 : 65535;
        }
    }
}

// Where the samples beyond the 24-bit form go, for files that have them.
struct DeepOutput {
    std::uint16_t* wide = nullptr;     // 16-bit files: four samples a pixel
    AlphaCollector* alpha = nullptr;   // files of 8 bits or less storing transparency
    std::uint8_t* alphaRow = nullptr;  // one row of alpha on its way there
};

// One unfiltered row `y` into the 24-bit form and the deep output; null,
// or why the file is declined.
const char* ConvertRowAndDeep(const Chunks& chunks, const std::uint8_t* raw, std::size_t y,
                              std::uint8_t* out, DeepOutput& deep) {
    const Header& header = chunks.header;
    std::uint8_t* pixels = out + y * header.width * 3;
    if (header.colourType == kRgba && header.depth == 8 && deep.alpha != nullptr) {
        // Colour and alpha in one pass.
        SplitRgba(raw, pixels, deep.alphaRow, header.width);
        return deep.alpha->TakeRow(static_cast<std::int32_t>(y), deep.alphaRow) ? nullptr
                                                                               : "no memory for the alpha";
    }
    if (!ConvertRow(header, raw, pixels, chunks.entries)) {
        return "palette index without an entry";
    }
    if (deep.wide != nullptr) {
        WideRow(chunks, raw, deep.wide + 4 * y * header.width);
    } else if (deep.alpha != nullptr) {
        AlphaRow(chunks, raw, deep.alphaRow);
        if (!deep.alpha->TakeRow(static_cast<std::int32_t>(y), deep.alphaRow)) {
            return "no memory for the alpha";
        }
    }
    return nullptr;
}

// Unfilters the inflated rows at `raw` in place and converts each into the
// 24-bit row of `out` and the deep output; null, or why the file is
// declined.
const char* UnfilterAndConvert(const Chunks& chunks, std::uint8_t* raw, std::uint8_t* out,
                               DeepOutput& deep) {
    const Header& header = chunks.header;
    const std::size_t rowStride = header.rowBytes + 1;
    const std::unique_ptr<std::uint8_t[]> zeros(new (std::nothrow) std::uint8_t[header.rowBytes]());
    if (zeros == nullptr) {
        return "no memory for a row";
    }
    constexpr std::uint8_t kPaeth = 4;
    const std::uint8_t* previous = zeros.get();
    for (std::size_t y = 0; y < header.height;) {
        std::uint8_t* row = raw + y * rowStride;
        const std::uint8_t filter = row[0];
        if (filter > 4) {
            return "filter type";
        }
        std::size_t rows = 1;
        if (filter == kPaeth) {
            // Up to four Paeth rows in a row are unfiltered side by side.
            while (rows < 4 && y + rows < header.height && row[rows * rowStride] == kPaeth) {
                ++rows;
            }
            UnfilterPaethRows(row + 1, rowStride, previous, header.rowBytes, header.pixelBytes,
                              rows);
        } else if (filter != 0) {
            kUnfilter[filter](row + 1, previous, header.rowBytes, header.pixelBytes);
        }
        for (std::size_t i = 0; i < rows; ++i) {
            if (const char* reason = ConvertRowAndDeep(chunks, row + i * rowStride + 1, y + i, out, deep)) {
                return reason;
            }
        }
        previous = row + (rows - 1) * rowStride + 1;
        y += rows;
    }
    return nullptr;
}

}  // namespace

ReadResult ReadPng(std::FILE* file, std::uint64_t size, std::uint64_t maxPixels, bool deepSamples) {
    if (size < 8 || size > SIZE_MAX / 2) {
        return Declined("file size");
    }
    FileBytes bytes(size);
    if (bytes.Data() == nullptr) {
        return Declined("no memory for the file");
    }
    if (std::fread(bytes.Data(), 1, size, file) != size) {
        return Declined("unreadable");
    }
    Chunks chunks;
    std::memset(chunks.paletteAlpha, 255, sizeof chunks.paletteAlpha);
    if (const char* reason = WalkChunks(bytes.Data(), size, maxPixels, chunks)) {
        ReadResult refused;
        return reason == kTooManyPixels &&
                       RefuseTooManyPixels(chunks.header.width, chunks.header.height, maxPixels, refused)
                   ? refused
                   : Declined(reason);
    }
    const Header& header = chunks.header;
    if (header.colourType == kGrey && header.depth < 8) {
        const unsigned top = (1u << header.depth) - 1;
        for (unsigned i = 0; i <= top; ++i) {
            const auto level = static_cast<std::uint8_t>(i * 255 / top);
            chunks.entries[i] = Entry{level, level, level, 1};
        }
    }
    const std::size_t inflatedSize = (header.rowBytes + 1) * header.height;
    if (!WindowFits(bytes[0], inflatedSize)) {
        return Declined("zlib window");
    }

    // Where the inflated rows start: far enough from the block's start that
    // writing 24-bit row y never reaches raw row y.
    const std::size_t outRow = std::size_t{header.width} * 3;
    const std::size_t growth = outRow > header.rowBytes + 1 ? outRow - header.rowBytes - 1 : 0;
    const auto width = static_cast<std::int32_t>(header.width);
    const auto height = static_cast<std::int32_t>(header.height);
    const std::size_t capacity = std::max(outRow + (header.height - 1) * growth + inflatedSize,
                                          ImageBufferSize(width, height));
    DecodeBuffer buffer(width, height, capacity);
    if (buffer.Data() == nullptr) {
        return Declined("no memory for the picture");
    }
    std::uint8_t* raw = buffer.Data() + capacity - inflatedSize;
    if (const char* reason = Inflate(bytes.Data(), chunks.streamSize, raw, inflatedSize)) {
        return Declined(reason);
    }
    bytes.Release();
    const bool wide = deepSamples && header.depth == 16;
    const bool alpha = deepSamples && header.depth != 16 &&
                       (chunks.storesAlpha || header.colourType == kRgba || header.colourType == kGreyAlpha);
    OwnedPlane widePlane(wide ? DeepPlaneSize(width, height, Samples::Bits16) : 0);
    AlphaCollector alphaCollector(width, height);
    const std::unique_ptr<std::uint8_t[]> alphaRow(alpha ? new (std::nothrow) std::uint8_t[header.width] : nullptr);
    if ((wide && widePlane.Data() == nullptr) || (alpha && alphaRow == nullptr)) {
        return Declined("no memory for the deep samples");
    }
    DeepOutput deep{wide ? static_cast<std::uint16_t*>(widePlane.Data()) : nullptr,
                    alpha ? &alphaCollector : nullptr, alphaRow.get()};
    if (const char* reason = UnfilterAndConvert(chunks, raw, buffer.Data(), deep)) {
        return Declined(reason);
    }
    Image* image = buffer.TakeImage();
    if (image == nullptr) {
        return Declined("no memory for the picture");
    }
    if (wide) {
        image->samples = Samples::Bits16;
        image->deep = widePlane.Release();
        image->storesAlpha = chunks.storesAlpha || header.colourType == kRgba ||
                             header.colourType == kGreyAlpha;
    } else if (alpha) {
        alphaCollector.Attach(image);
    }
    image->shownAsIs = header.depth == 8 && !chunks.storesAlpha && !chunks.colourManaged &&
                       (header.colourType == kRgb || header.colourType == kGrey || header.colourType == kPalette);
    return ReadResult{image, nullptr};
}
