#include "stream/png_row_reader.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "stream/pixel_rows.h"
#include "stream/png_rows.h"
#include "stream/zlib_inflater.h"

namespace {

// libpng's own limits on width and height, which the library keeps.
constexpr std::uint32_t kMaxSide = 1000000;
// The file is read through a buffer of this size.
constexpr std::size_t kInputBytes = std::size_t{64} << 10;
// The rows are inflated into a window of about a 64th of the image data,
// from 16 KiB to 512 KiB (at least one row), which stays in the processor's
// cache between the inflating and the converting. Each call into ISA-L
// ends by copying 32 KiB of history, which wants a large window on a large
// picture; each fresh page of the window costs a fault, which wants a
// small one on a small picture (measured cold: 16 KiB against 512 took a
// 320x240 pair 12 % less CPU, 512 KiB against 128 the cypress pair 10 %).
constexpr std::uint64_t kWindowShare = 64;
constexpr std::size_t kSmallestWindowBytes = std::size_t{16} << 10;
constexpr std::size_t kLargestWindowBytes = std::size_t{512} << 10;
// Image data that inflates to at most this much, and whose file is all in
// the input buffer, is inflated at once by libdeflate: building ISA-L's
// tables for each stream costs more than its speed saves on so little.
constexpr std::size_t kWholeStreamBytes = std::size_t{1} << 20;
// The chunks read whole: IHDR, PLTE and tRNS, each far smaller.
constexpr std::uint32_t kLargestKeptChunk = 1024;

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
    bool interlaced = false;        // Adam7
    std::size_t bits = 0;           // of one pixel
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
    if (data[12] > 1) {
        return "interlace method";
    }
    header.interlaced = data[12] == 1;
    header.bits = SamplesPerPixel(header.colourType) * static_cast<std::size_t>(header.depth);
    header.rowBytes = (header.width * header.bits + 7) / 8;
    header.pixelBytes = std::max<std::size_t>(1, header.bits / 8);
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

// What the chunks before the image data say.
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
};

const char* TakeHeader(const std::uint8_t* data, std::uint32_t length, std::uint64_t maxPixels,
                       Chunks& chunks) {
    if (chunks.haveHeader) {
        return "second IHDR";
    }
    if (const char* reason = ParseHeader(data, length, chunks.header)) {
        return reason;
    }
    chunks.haveHeader = true;
    if (maxPixels != 0 && std::uint64_t{chunks.header.width} * chunks.header.height > maxPixels) {
        return kTooManyPixels;
    }
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
    // A grey key is a sample at the picture's own depth, also below 8
    // bits. There the library (for 1- and 2-bit samples, and interlaced
    // 4-bit ones) compares it with the widened sample and lets the wrong
    // pixels match, or none: libpng's own reading holds.
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

// One checked chunk other than IDAT and IEND; null, or why the file is
// declined.
const char* TakeChunk(const std::uint8_t* type, const std::uint8_t* data, std::uint32_t length,
                      std::uint64_t maxPixels, Chunks& chunks) {
    if (std::memcmp(type, "IHDR", 4) == 0) {
        return TakeHeader(data, length, maxPixels, chunks);
    }
    if (std::memcmp(type, "PLTE", 4) == 0) {
        return TakePalette(data, length, chunks);
    }
    if (std::memcmp(type, "tRNS", 4) == 0) {
        return TakeTransparency(data, length, chunks);
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

// zlib's own window size: libpng inflates with it, and a distance beyond it
// fails there, while ISA-L would still follow it. Only a stream shorter
// than its window cannot hold such a distance.
bool WindowFits(std::uint8_t zlibHeader, std::uint64_t inflatedSize) {
    const std::uint64_t window = std::uint64_t{1} << ((zlibHeader >> 4) + 8);
    return (zlibHeader & 0x0F) == 8 && (zlibHeader >> 4) <= 7 &&
           (window >= (std::uint64_t{1} << 15) || inflatedSize <= window);
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

struct ByteSpan {
    const std::uint8_t* bytes;
    std::size_t size;
};

// The file through a buffer of its own.
class FileInput {
public:
    explicit FileInput(std::FILE* source) : file(source), buffer(new (std::nothrow) std::uint8_t[kInputBytes]) {}

    bool Ready() const { return buffer != nullptr; }

    // Up to `most` bytes that follow, at least `least` of them where the
    // file has that many (fewer only at its end), taken: they stay valid
    // until the next call.
    std::size_t Take(std::size_t most, std::size_t least, const std::uint8_t** bytes) {
        if (end - at < least || at == end) {
            Refill();
        }
        const std::size_t taken = std::min(most, end - at);
        *bytes = buffer.get() + at;
        at += taken;
        return taken;
    }

    // Exactly `size` bytes (at most the buffer's) into `out`; false at the
    // end of the file.
    bool Read(std::uint8_t* out, std::size_t size) {
        const std::uint8_t* bytes = nullptr;
        if (Take(size, size, &bytes) != size) {
            return false;
        }
        std::memcpy(out, bytes, size);
        return true;
    }

    bool AtEnd() {
        if (at == end) {
            Refill();
        }
        return at == end;
    }

    // Every byte left in the file, where they all fit in the buffer (else
    // 0): nothing is taken, and they stay valid until the next call.
    std::size_t PeekRest(const std::uint8_t** bytes) {
        if (!sawEnd) {
            Refill();
        }
        *bytes = buffer.get() + at;
        return sawEnd && std::ferror(file) == 0 ? end - at : 0;
    }

    void Skip(std::size_t size) { at += size; }

private:
    // Keeps the bytes not yet taken and reads more behind them.
    void Refill() {
        std::memmove(buffer.get(), buffer.get() + at, end - at);
        end -= at;
        at = 0;
        const std::size_t wanted = kInputBytes - end;
        const std::size_t got = std::fread(buffer.get() + end, 1, wanted, file);
        end += got;
        sawEnd = sawEnd || got < wanted;
    }

    std::FILE* file;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t at = 0;
    std::size_t end = 0;
    bool sawEnd = false;
};

}  // namespace

struct PngRowReader::State {
    State(std::FILE* file, std::uint64_t pixelLimit, bool deep)
        : input(file), maxPixels(pixelLimit), deepSamples(deep) {
        std::memset(chunks.paletteAlpha, 255, sizeof chunks.paletteAlpha);
    }

    FileInput input;
    std::uint64_t maxPixels;
    bool deepSamples;
    Chunks chunks;
    RowFacts facts;
    // The chunk being read: its type, the data bytes not yet read, and
    // the CRC of what was.
    std::uint8_t type[4] = {};
    std::uint32_t length = 0;
    std::uint32_t remaining = 0;
    std::uint32_t crc = 0;
    ZlibInflater inflater;
    bool streamStarted = false;
    // Raw rows, each led by its filter byte, and the row above the first.
    // `rawRows` is the window, or all the rows (`allRows`, not null where
    // they were inflated at once), `nextRow` then the first not yet converted.
    std::unique_ptr<std::uint8_t[]> window;
    std::size_t windowRows = 0;
    std::unique_ptr<std::uint8_t[]> previous;
    std::uint8_t* rawRows = nullptr;
    std::unique_ptr<std::uint8_t[]> allRows;
    // An interlaced picture's raw rows, gathered from its seven passes.
    std::unique_ptr<std::uint8_t[]> frame;
    std::uint32_t nextRow = 0;

    const char* ChunkHead();
    const char* ChunkEnd();
    const char* ReadChunk();
    const char* Feed();
    const char* FillWindow(std::uint8_t* out, std::size_t size);
    bool InflateWhole();
    std::size_t GatherImageData(const std::uint8_t* rest, std::size_t size, std::vector<std::uint8_t>& joined,
                                ByteSpan& data);
    const char* NextRawRows(std::uint32_t count, std::uint8_t* room);
    const char* EndStream();
    const char* UnfilterAndConvert(std::uint32_t count, const RowsOut* out);
    const char* ConvertRows(const std::uint8_t* row, std::size_t rowIndex, const RowsOut& out) const;
    const char* PrepareRows();
    const char* ReadPass(const std::uint32_t (&pass)[4]);
    const char* Deinterlace();
};

// The length and type of the next chunk.
const char* PngRowReader::State::ChunkHead() {
    std::uint8_t head[8];
    if (!input.Read(head, 8)) {
        return "truncated";
    }
    length = BigEndian32(head);
    std::memcpy(type, head + 4, 4);
    if (length > 0x7FFFFFFFu) {
        return "truncated";
    }
    if (!IsLetter(type[0]) || !IsLetter(type[1]) || !IsLetter(type[2]) || !IsLetter(type[3]) ||
        (type[2] & 0x20) != 0) {
        return "chunk type";
    }
    remaining = length;
    crc = libdeflate_crc32(0, type, 4);
    return nullptr;
}

// The CRC after the chunk's data, all of it read.
const char* PngRowReader::State::ChunkEnd() {
    std::uint8_t stored[4];
    if (!input.Read(stored, 4)) {
        return "truncated";
    }
    return BigEndian32(stored) == crc ? nullptr : "CRC";
}

// The data of a chunk other than IDAT and IEND, then what it says.
const char* PngRowReader::State::ReadChunk() {
    const bool kept = std::memcmp(type, "IHDR", 4) == 0 || std::memcmp(type, "PLTE", 4) == 0 ||
                      std::memcmp(type, "tRNS", 4) == 0;
    if (kept && length > kLargestKeptChunk) {
        return "chunk length";
    }
    std::uint8_t data[kLargestKeptChunk];
    std::uint32_t at = 0;
    while (remaining > 0) {
        const std::uint8_t* bytes = nullptr;
        const std::size_t got = input.Take(remaining, 1, &bytes);
        if (got == 0) {
            return "truncated";
        }
        crc = libdeflate_crc32(crc, bytes, got);
        if (kept) {
            std::memcpy(data + at, bytes, got);
            at += static_cast<std::uint32_t>(got);
        }
        remaining -= static_cast<std::uint32_t>(got);
    }
    if (const char* reason = ChunkEnd()) {
        return reason;
    }
    if (!chunks.haveHeader && std::memcmp(type, "IHDR", 4) != 0) {
        return "IHDR not first";
    }
    return TakeChunk(type, data, length, maxPixels, chunks);
}

// The next piece of the image data for the inflater, from this IDAT chunk
// or the ones after it.
const char* PngRowReader::State::Feed() {
    while (remaining == 0) {
        if (const char* reason = ChunkEnd()) {
            return reason;
        }
        if (const char* reason = ChunkHead()) {
            return reason;
        }
        if (std::memcmp(type, "IDAT", 4) != 0) {
            return "compressed data";
        }
    }
    const std::uint8_t* bytes = nullptr;
    const std::size_t got = input.Take(remaining, streamStarted ? 1 : std::min<std::uint32_t>(remaining, 2), &bytes);
    if (got == 0) {
        return "truncated";
    }
    crc = libdeflate_crc32(crc, bytes, got);
    remaining -= static_cast<std::uint32_t>(got);
    if (!streamStarted) {
        const Header& header = chunks.header;
        if (!WindowFits(bytes[0], std::uint64_t{header.rowBytes + 1} * header.height)) {
            return "zlib window";
        }
        streamStarted = true;
    }
    inflater.Give(bytes, got);
    return inflater.Broken() ? "compressed data" : nullptr;
}

// Exactly `size` inflated bytes into `out`. More input is fed only once
// the inflater makes no more: the bytes it read ahead may still hold the
// last rows when the image data has no more chunks.
const char* PngRowReader::State::FillWindow(std::uint8_t* out, std::size_t size) {
    std::size_t made = 0;
    while (made < size) {
        const std::size_t now = streamStarted ? inflater.Inflate(out + made, size - made) : 0;
        made += now;
        if (inflater.Broken() || (made < size && inflater.Ended())) {
            return "compressed data";
        }
        if (made < size && now == 0) {
            if (streamStarted && !inflater.NeedsInput()) {
                return "compressed data";
            }
            if (const char* reason = Feed()) {
                return reason;
            }
        }
    }
    return nullptr;
}

// The image data of this IDAT chunk and of those right after it, from
// `rest`, the file's bytes beyond this chunk's head: where it lies (in
// `rest` when one chunk holds it, else joined in `joined`), and how many
// bytes of `rest` the chunks span with their CRCs, or 0 where a chunk is
// cut short or its CRC is wrong. The chunks after them are left as they are.
std::size_t PngRowReader::State::GatherImageData(const std::uint8_t* rest, std::size_t size,
                                                 std::vector<std::uint8_t>& joined, ByteSpan& data) {
    std::size_t at = 0;
    std::uint32_t dataLength = remaining;
    std::uint32_t dataCrc = crc;
    data = ByteSpan{rest, 0};
    for (;;) {
        if (size - at < std::size_t{dataLength} + 4 ||
            libdeflate_crc32(dataCrc, rest + at, dataLength) != BigEndian32(rest + at + dataLength)) {
            return 0;
        }
        if (data.size == 0) {
            data = ByteSpan{rest + at, dataLength};
        } else if (dataLength > 0) {
            if (joined.empty()) {
                joined.assign(data.bytes, data.bytes + data.size);
            }
            joined.insert(joined.end(), rest + at, rest + at + dataLength);
            data = ByteSpan{joined.data(), joined.size()};
        }
        at += std::size_t{dataLength} + 4;
        if (size - at < 8 || std::memcmp(rest + at + 4, "IDAT", 4) != 0 || BigEndian32(rest + at) > 0x7FFFFFFFu) {
            return at;
        }
        dataLength = BigEndian32(rest + at);
        dataCrc = libdeflate_crc32(0, rest + at + 4, 4);
        at += 8;
    }
}

// All the image data inflated at once, where that is cheaper than the
// stream (see kWholeStreamBytes). Only a stream that ends exactly with
// the rows and with the last IDAT chunk is taken; anything else leaves
// the input untouched, and the streamed path finds what is wrong.
bool PngRowReader::State::InflateWhole() {
    const Header& header = chunks.header;
    const std::size_t size = (std::size_t{header.rowBytes} + 1) * header.height;
    const std::uint8_t* rest = nullptr;
    const std::size_t restSize = header.interlaced || size > kWholeStreamBytes ? 0 : input.PeekRest(&rest);
    std::vector<std::uint8_t> joined;
    ByteSpan data{};
    const std::size_t spanned = restSize == 0 ? 0 : GatherImageData(rest, restSize, joined, data);
    if (spanned == 0 || data.size < 2 || !WindowFits(data.bytes[0], size)) {
        return false;
    }
    allRows.reset(new (std::nothrow) std::uint8_t[size]);
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    std::size_t used = 0;
    std::size_t made = 0;
    const bool whole = allRows != nullptr && decompressor != nullptr &&
                       libdeflate_zlib_decompress_ex(decompressor, data.bytes, data.size, allRows.get(), size,
                                                     &used, &made) == LIBDEFLATE_SUCCESS &&
                       used == data.size && made == size;
    libdeflate_free_decompressor(decompressor);
    if (!whole) {
        allRows.reset();
        return false;
    }
    input.Skip(spanned);
    remaining = 0;
    windowRows = header.height;
    return true;
}

// The next `count` raw rows, at `rawRows`: in `room`, unless all the rows
// are inflated already.
const char* PngRowReader::State::NextRawRows(std::uint32_t count, std::uint8_t* room) {
    if (allRows != nullptr) {
        rawRows = allRows.get() + std::size_t{nextRow} * (chunks.header.rowBytes + 1);
        nextRow += count;
        return nullptr;
    }
    rawRows = room;
    return FillWindow(room, count * (std::size_t{chunks.header.rowBytes} + 1));
}

// The streamed image data's end: the stream must end with the rows, and
// the chunk with it.
const char* PngRowReader::State::EndStream() {
    while (!inflater.Ended()) {
        std::uint8_t beyond = 0;
        if (inflater.Inflate(&beyond, 1) != 0 || inflater.Broken()) {
            return "compressed data";
        }
        if (inflater.Ended()) {
            break;
        }
        if (!inflater.NeedsInput()) {
            return "compressed data";
        }
        if (const char* reason = Feed()) {
            return reason;
        }
    }
    if (inflater.BytesBeyondEnd() != 0 || remaining != 0) {
        return "data after the compressed stream";
    }
    if (const char* reason = ChunkEnd()) {
        return reason;
    }
    return nullptr;
}

// Row `rowIndex` of the batch, unfiltered, into the 24-bit form and what
// lies beside it.
const char* PngRowReader::State::ConvertRows(const std::uint8_t* raw, std::size_t rowIndex,
                                             const RowsOut& out) const {
    const Header& header = chunks.header;
    std::uint8_t* pixels = out.pixels + rowIndex * out.pixelStride;
    std::uint8_t* alpha = out.alpha != nullptr ? out.alpha + rowIndex * out.alphaStride : nullptr;
    if (header.colourType == kRgba && header.depth == 8 && alpha != nullptr) {
        // Colour and alpha in one pass.
        SplitRgba(raw, pixels, alpha, header.width);
        return nullptr;
    }
    if (!ConvertRow(header, raw, pixels, chunks.entries)) {
        return "palette index without an entry";
    }
    if (out.wide != nullptr) {
        WideRow(chunks, raw, out.wide + rowIndex * out.wideStride);
    } else if (alpha != nullptr) {
        AlphaRow(chunks, raw, alpha);
    }
    return nullptr;
}

// Unfilters the `count` raw rows in place and converts each into `out`,
// unless it is null.
const char* PngRowReader::State::UnfilterAndConvert(std::uint32_t count, const RowsOut* out) {
    const Header& header = chunks.header;
    const std::size_t rowStride = header.rowBytes + 1;
    constexpr std::uint8_t kPaeth = 4;
    const std::uint8_t* above = previous.get();
    for (std::size_t y = 0; y < count;) {
        std::uint8_t* row = rawRows + y * rowStride;
        const std::uint8_t filter = row[0];
        if (filter > 4) {
            return "filter type";
        }
        std::size_t rows = 1;
        if (filter == kPaeth) {
            // Up to four Paeth rows in a row are unfiltered side by side.
            while (rows < 4 && y + rows < count && row[rows * rowStride] == kPaeth) {
                ++rows;
            }
            UnfilterPaethRows(row + 1, rowStride, above, header.rowBytes, header.pixelBytes, rows);
        } else if (filter != 0) {
            kUnfilter[filter](row + 1, above, header.rowBytes, header.pixelBytes);
        }
        for (std::size_t i = 0; out != nullptr && i < rows; ++i) {
            if (const char* reason = ConvertRows(row + i * rowStride + 1, y + i, *out)) {
                return reason;
            }
        }
        above = row + (rows - 1) * rowStride + 1;
        y += rows;
    }
    std::memcpy(previous.get(), above, header.rowBytes);
    return nullptr;
}

// What the rows need once the chunks before them are read.
const char* PngRowReader::State::PrepareRows() {
    const Header& header = chunks.header;
    if (header.colourType == kGrey && header.depth < 8) {
        const unsigned top = (1u << header.depth) - 1;
        for (unsigned i = 0; i <= top; ++i) {
            const auto level = static_cast<std::uint8_t>(i * 255 / top);
            chunks.entries[i] = Entry{level, level, level, 1};
        }
    }
    const std::size_t rowStride = header.rowBytes + 1;
    previous.reset(new (std::nothrow) std::uint8_t[header.rowBytes]());
    if (!InflateWhole()) {
        const std::uint64_t share = std::uint64_t{rowStride} * header.height / kWindowShare;
        const auto windowBytes = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(share, kSmallestWindowBytes, kLargestWindowBytes));
        windowRows = std::max<std::size_t>(1, std::min<std::size_t>(header.height, windowBytes / rowStride));
        window.reset(new (std::nothrow) std::uint8_t[windowRows * rowStride]);
    }
    if ((window == nullptr && allRows == nullptr) || previous == nullptr || !inflater.Ready() || !input.Ready()) {
        return "no memory for the rows";
    }
    facts.width = header.width;
    facts.height = header.height;
    facts.transparency = chunks.storesAlpha || header.colourType == kRgba || header.colourType == kGreyAlpha;
    facts.wide = deepSamples && header.depth == 16;
    facts.alphaRows = deepSamples && header.depth != 16 && facts.transparency;
    facts.shownAsIs = header.depth == 8 && !chunks.storesAlpha && !chunks.colourManaged &&
                      (header.colourType == kRgb || header.colourType == kGrey || header.colourType == kPalette);
    return nullptr;
}

// One Adam7 pass (first column, first row, column step, row step): its
// rows unfiltered against each other and their pixels put in place.
const char* PngRowReader::State::ReadPass(const std::uint32_t (&pass)[4]) {
    const Header& header = chunks.header;
    const std::size_t columns = (header.width - pass[0] + pass[2] - 1) / pass[2];
    const std::size_t passRowBytes = (columns * header.bits + 7) / 8;
    std::memset(previous.get(), 0, passRowBytes);
    for (std::uint32_t y = pass[1]; y < header.height; y += pass[3]) {
        std::uint8_t* row = window.get();
        if (const char* reason = FillWindow(row, passRowBytes + 1)) {
            return reason;
        }
        if (row[0] > 4) {
            return "filter type";
        }
        if (row[0] != 0) {
            kUnfilter[row[0]](row + 1, previous.get(), passRowBytes, header.pixelBytes);
        }
        std::uint8_t* out = frame.get() + y * header.rowBytes;
        for (std::size_t i = 0; i < columns; ++i) {
            const std::size_t x = pass[0] + i * pass[2];
            if (header.bits >= 8) {
                std::memcpy(out + x * header.pixelBytes, row + 1 + i * header.pixelBytes, header.pixelBytes);
            } else {
                const auto bits = static_cast<unsigned>(header.bits);
                const unsigned sample = PackedSample(row + 1, i, bits);
                out[x * bits / 8] = static_cast<std::uint8_t>(out[x * bits / 8] | sample << (8 - bits - x * bits % 8));
            }
        }
        std::memcpy(previous.get(), row + 1, passRowBytes);
    }
    return nullptr;
}

// Reads all seven passes into `frame`: an interlaced picture's first row
// needs the last pass.
const char* PngRowReader::State::Deinterlace() {
    static const std::uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const Header& header = chunks.header;
    frame.reset(new (std::nothrow) std::uint8_t[header.rowBytes * header.height]());
    if (frame == nullptr) {
        return "no memory for the interlaced rows";
    }
    for (const auto& pass : kPasses) {
        if (pass[0] < header.width && pass[1] < header.height) {
            if (const char* reason = ReadPass(pass)) {
                return reason;
            }
        }
    }
    return nullptr;
}

PngRowReader::PngRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples)
    : state(new State(file, maxPixels, deepSamples)) {}

PngRowReader::~PngRowReader() = default;

const RowFacts& PngRowReader::Facts() const { return state->facts; }

const char* PngRowReader::Start() {
    State& s = *state;
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t signature[8];
    if (!s.input.Ready() || !s.input.Read(signature, 8) || std::memcmp(signature, kSignature, 8) != 0) {
        return "signature";
    }
    for (;;) {
        if (const char* reason = s.ChunkHead()) {
            return reason;
        }
        if (std::memcmp(s.type, "IDAT", 4) == 0 || std::memcmp(s.type, "IEND", 4) == 0) {
            break;
        }
        if (const char* reason = s.ReadChunk()) {
            if (reason == kTooManyPixels) {
                s.facts.width = s.chunks.header.width;
                s.facts.height = s.chunks.header.height;
            }
            return reason;
        }
    }
    if (!s.chunks.haveHeader) {
        return "IHDR not first";
    }
    if (std::memcmp(s.type, "IEND", 4) == 0) {
        return "no image data";
    }
    if (s.chunks.header.colourType == kPalette && s.chunks.paletteEntries == 0) {
        return "IDAT out of place";
    }
    s.chunks.inData = true;
    return s.PrepareRows();
}

const char* PngRowReader::ReadRows(std::uint32_t count, const RowsOut& out) {
    State& s = *state;
    if (s.chunks.header.interlaced) {
        return ReadInterlacedRows(count, out);
    }
    RowsOut batch = out;
    while (count > 0) {
        const auto rows = static_cast<std::uint32_t>(std::min<std::size_t>(count, s.windowRows));
        if (const char* reason = s.NextRawRows(rows, s.window.get())) {
            return reason;
        }
        if (const char* reason = s.UnfilterAndConvert(rows, &batch)) {
            return reason;
        }
        batch.pixels += rows * batch.pixelStride;
        batch.alpha = batch.alpha != nullptr ? batch.alpha + rows * batch.alphaStride : nullptr;
        batch.wide = batch.wide != nullptr ? batch.wide + rows * batch.wideStride : nullptr;
        count -= rows;
    }
    return nullptr;
}

// Colour rows of 8 or 16 bits a sample, without a colour key, turn into
// the same rows wherever the same bytes are stored; the form says how.
std::uint32_t PngRowReader::StoredForm() const {
    const Header& header = state->chunks.header;
    const bool colour = header.colourType == kRgb || header.colourType == kRgba;
    if (!colour || header.interlaced || state->chunks.haveKey) {
        return 0;
    }
    return 1u << 16 | static_cast<std::uint32_t>(header.colourType) << 8 | static_cast<std::uint32_t>(header.depth);
}

// Rows inflated at once stay where they are; streamed ones need a room.
std::size_t PngRowReader::StoredRoomBytes(std::uint32_t count) const {
    return state->allRows != nullptr ? 0 : count * (std::size_t{state->chunks.header.rowBytes} + 1);
}

const char* PngRowReader::ReadStoredRows(std::uint32_t count, std::uint8_t* room, StoredRows& rows,
                                         const RowsOut* out) {
    State& s = *state;
    if (const char* reason = s.NextRawRows(count, room)) {
        return reason;
    }
    if (const char* reason = s.UnfilterAndConvert(count, out)) {
        return reason;
    }
    // Each raw row is led by its filter byte.
    rows = StoredRows{s.rawRows + 1, s.chunks.header.rowBytes + std::size_t{1}, s.chunks.header.rowBytes};
    return nullptr;
}

void PngRowReader::ConvertStoredRows(const StoredRows& rows, std::uint32_t count, const RowsOut& out) const {
    // Colour rows have no palette index to miss.
    for (std::uint32_t i = 0; i < count; ++i) {
        state->ConvertRows(rows.first + i * rows.stride, i, out);
    }
}

const char* PngRowReader::ReadInterlacedRows(std::uint32_t count, const RowsOut& out) {
    State& s = *state;
    if (s.frame == nullptr) {
        if (const char* reason = s.Deinterlace()) {
            return reason;
        }
    }
    for (std::uint32_t i = 0; i < count; ++i, ++s.nextRow) {
        if (const char* reason = s.ConvertRows(s.frame.get() + s.nextRow * s.chunks.header.rowBytes, i, out)) {
            return reason;
        }
    }
    return nullptr;
}

const char* PngRowReader::Finish() {
    State& s = *state;
    if (s.allRows == nullptr) {
        if (const char* reason = s.EndStream()) {
            return reason;
        }
    }
    for (;;) {
        if (const char* reason = s.ChunkHead()) {
            return reason;
        }
        if (std::memcmp(s.type, "IEND", 4) == 0) {
            break;
        }
        if (std::memcmp(s.type, "IDAT", 4) == 0) {
            if (s.chunks.dataDone) {
                return "IDAT out of place";
            }
            if (s.length != 0) {
                return "data after the compressed stream";
            }
            if (const char* reason = s.ChunkEnd()) {
                return reason;
            }
            continue;
        }
        if (const char* reason = s.ReadChunk()) {
            return reason;
        }
    }
    if (s.length != 0) {
        return "IEND length";
    }
    if (const char* reason = s.ChunkEnd()) {
        return reason;
    }
    return s.input.AtEnd() ? nullptr : "data after IEND";
}
