#include "image/png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/log.h"
#include "stream/png_rows.h"
#include "platform/platform.h"

namespace {

void PutBigEndian32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// One chunk: length, type, data, CRC of type and data.
bool WriteChunk(std::FILE* file, const char* type, const std::uint8_t* data, std::size_t size) {
    std::uint8_t head[8];
    PutBigEndian32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    std::uint8_t tail[4];
    // A null buffer would make libdeflate start the checksum anew.
    PutBigEndian32(tail, libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), size == 0 ? head : data, size));
    return std::fwrite(head, 1, 8, file) == 8 && std::fwrite(data, 1, size, file) == size &&
           std::fwrite(tail, 1, 4, file) == 4;
}

// Canonical Huffman codes (RFC 1951, 3.2.2) for code lengths.
template <std::size_t N>
void AssignCodes(const std::uint8_t (&lengths)[N], std::uint16_t (&codes)[N]) {
    unsigned count[16] = {};
    for (const std::uint8_t length : lengths) {
        ++count[length];
    }
    count[0] = 0;
    unsigned next[16] = {};
    unsigned code = 0;
    for (unsigned bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (std::size_t symbol = 0; symbol < N; ++symbol) {
        codes[symbol] = lengths[symbol] == 0 ? 0 : static_cast<std::uint16_t>(next[lengths[symbol]]++);
    }
}

// The code of a stream that is mostly runs: the longest match (symbol 285,
// 258 bytes) takes 1 bit and its distance another, so a run of 258 black
// bytes costs 2 bits; literals 0-226 take 9 bits, the rest of the symbols
// 10 (a complete code: 1/2 + 227/512 + 58/1024 = 1).
struct RunCode {
    std::uint8_t lengths[286];
    std::uint16_t codes[286];

    RunCode() {
        for (unsigned symbol = 0; symbol < 286; ++symbol) {
            lengths[symbol] = symbol == 285 ? 1 : symbol < 227 ? 9 : 10;
        }
        AssignCodes(lengths, codes);
    }
};

// A zlib stream of one deflate block that says "the byte before, n times
// more" (a match at distance 1) for every run and spells out every other
// byte. On a mostly black difference picture that is nearly all there is
// to say, and finding the runs a word at a time is several times faster
// than a general compressor's search.
class RunEncoder {
public:
    explicit RunEncoder(std::vector<std::uint8_t>& output) : out(output) {
        out.push_back(0x78);  // deflate, 32 KiB window
        out.push_back(0x01);  // no dictionary, fastest; the header's check
        Put(1, 1);            // the last block
        Put(2, 2);            // Huffman codes of its own
        PutCodes();
    }

    // The next bytes of the stream.
    void Add(const std::uint8_t* bytes, std::size_t size) {
        adler = libdeflate_adler32(adler, bytes, size);
        std::size_t at = 0;
        while (at < size) {
            if (previous >= 0 && bytes[at] == previous) {
                const std::size_t end = RunEnd(bytes, at, size, static_cast<std::uint8_t>(previous));
                run += end - at;
                at = end;
                continue;
            }
            FlushRun();
            PutSymbol(bytes[at]);
            previous = bytes[at];
            ++at;
        }
    }

    // Ends the block and the stream.
    void Finish() {
        FlushRun();
        PutSymbol(256);
        if (count > 0) {
            out.push_back(static_cast<std::uint8_t>(bits));
        }
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.push_back(static_cast<std::uint8_t>(adler >> shift));
        }
    }

private:
    // Where the run of `value` that starts at `at` ends, a word at a time.
    static std::size_t RunEnd(const std::uint8_t* bytes, std::size_t at, std::size_t size, std::uint8_t value) {
        const std::uint64_t pattern = value * std::uint64_t{0x0101010101010101};
        while (at + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, bytes + at, 8);
            if (word != pattern) {
                break;
            }
            at += 8;
        }
        while (at < size && bytes[at] == value) {
            ++at;
        }
        return at;
    }

    void Put(std::uint32_t value, unsigned length) {
        bits |= std::uint64_t{value} << count;
        count += length;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }

    // Huffman codes go out from their first bit.
    void PutCode(std::uint32_t code, unsigned length) {
        std::uint32_t reversed = 0;
        for (unsigned i = 0; i < length; ++i) {
            reversed |= ((code >> i) & 1u) << (length - 1 - i);
        }
        Put(reversed, length);
    }

    // The block's header: 286 literal/length codes and one distance code,
    // their lengths told with a code of three lengths (1, 9, 10).
    void PutCodes() {
        Put(286 - 257, 5);
        Put(1 - 1, 5);
        // Code length code lengths, in the order the format sends them
        // (16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1):
        // 9 takes 1 bit, 10 and 1 take 2.
        static const std::uint8_t kOrderedLengths[18] = {0, 0, 0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 2};
        Put(18 - 4, 4);
        for (const std::uint8_t length : kOrderedLengths) {
            Put(length, 3);
        }
        std::uint8_t lengthCodeLengths[19] = {};
        lengthCodeLengths[1] = 2;
        lengthCodeLengths[9] = 1;
        lengthCodeLengths[10] = 2;
        std::uint16_t lengthCodes[19];
        AssignCodes(lengthCodeLengths, lengthCodes);
        for (const std::uint8_t length : kRunCode.lengths) {
            PutCode(lengthCodes[length], lengthCodeLengths[length]);
        }
        // The one distance code, 1 bit long: code 0, one byte back.
        PutCode(lengthCodes[1], lengthCodeLengths[1]);
    }

    void PutSymbol(unsigned symbol) { PutCode(kRunCode.codes[symbol], kRunCode.lengths[symbol]); }

    // A match of `length` (3 to 258) bytes at distance 1.
    void Match(unsigned length) {
        static const std::uint16_t kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const std::uint8_t kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        unsigned code = 28;
        while (kBase[code] > length) {
            --code;
        }
        PutSymbol(257 + code);
        Put(length - kBase[code], kExtra[code]);
        Put(0, 1);  // the one distance code
    }

    void FlushRun() {
        while (run >= 3) {
            const auto length = static_cast<unsigned>(std::min<std::size_t>(run, 258));
            Match(length);
            run -= length;
        }
        for (; run > 0; --run) {
            PutSymbol(static_cast<std::uint8_t>(previous));
        }
    }

    static const RunCode kRunCode;
    std::vector<std::uint8_t>& out;
    std::uint64_t bits = 0;
    unsigned count = 0;
    std::uint32_t adler = 1;
    int previous = -1;
    std::size_t run = 0;
};

const RunCode RunEncoder::kRunCode;

}  // namespace

// Row by row through one row's buffer: no frame-sized block at all. Gives
// up (false) once the stream is more than an eighth of what it encoded,
// where a real compressor does better.
bool PngWriter::EncodeRuns(const Image* image, std::vector<std::uint8_t>& zlibStream) {
    const auto width = static_cast<std::size_t>(image->width);
    const std::size_t rowBytes = 1 + 3 * width;
    std::vector<std::uint8_t> row(rowBytes, 0);
    RunEncoder encoder(zlibStream);
    std::size_t encoded = 0;
    for (std::int32_t y = 0; y < image->height; ++y) {
        SwapRedAndBlue(image->pixels + static_cast<std::size_t>(y) * 3 * width, row.data() + 1, width);
        encoder.Add(row.data(), rowBytes);
        encoded += rowBytes;
        if (encoded >= (std::size_t{64} << 10) && zlibStream.size() > encoded / 8) {
            return false;
        }
    }
    encoder.Finish();
    return true;
}

PngWriter::Block::~Block() { FreeBuffer(data, size); }

bool PngWriter::Block::Reserve(std::size_t bytes) {
    if (bytes <= size) {
        return true;
    }
    FreeBuffer(data, size);
    data = static_cast<std::uint8_t*>(AllocateBuffer(bytes, 16));
    size = data != nullptr ? bytes : 0;
    return data != nullptr;
}

PngWriter::PngWriter(int level) : compressor(libdeflate_alloc_compressor(level)) {}

PngWriter::~PngWriter() { libdeflate_free_compressor(compressor); }

void PngWriter::Write(const Image* image, AtomicFile& file) {
    const auto width = static_cast<std::size_t>(image->width);
    const auto height = static_cast<std::size_t>(image->height);
    // Rows led by their filter byte (0: none), red-green-blue.
    const std::size_t rowBytes = 1 + 3 * width;
    const std::size_t rawSize = rowBytes * height;
    if (compressor == nullptr || !raw.Reserve(rawSize)) {
        FailOutOfMemory(image->width, image->height);
    }
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* row = raw.data + y * rowBytes;
        row[0] = 0;
        // Blue-green-red to red-green-blue is the same swap.
        SwapRedAndBlue(image->pixels + y * 3 * width, row + 1, width);
    }
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor, rawSize);
    if (!stream.Reserve(bound)) {
        FailOutOfMemory(image->width, image->height);
    }
    const std::size_t streamSize = libdeflate_zlib_compress(compressor, raw.data, rawSize, stream.data, bound);
    WriteFile(image, stream.data, streamSize, file);
}

void PngWriter::WriteMostlyBlack(const Image* image, AtomicFile& file) {
    std::vector<std::uint8_t> runs;
    if (EncodeRuns(image, runs)) {
        WriteFile(image, runs.data(), runs.size(), file);
    } else {
        Write(image, file);
    }
}

void PngWriter::WriteFile(const Image* image, const std::uint8_t* zlibStream, std::size_t streamSize,
                          AtomicFile& file) {
    std::uint8_t header[13];
    PutBigEndian32(header, static_cast<std::uint32_t>(image->width));
    PutBigEndian32(header + 4, static_cast<std::uint32_t>(image->height));
    const std::uint8_t rest[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter method, no interlace
    std::memcpy(header + 8, rest, sizeof rest);
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::FILE* out = file.Stream();
    bool written = out != nullptr && streamSize != 0 && std::fwrite(kSignature, 1, 8, out) == 8 &&
                   WriteChunk(out, "IHDR", header, sizeof header);
    // A chunk holds at most 2^31 - 1 bytes.
    constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
    for (std::size_t at = 0; written && at < streamSize; at += kMaxChunk) {
        written = WriteChunk(out, "IDAT", zlibStream + at, std::min(kMaxChunk, streamSize - at));
    }
    written = written && WriteChunk(out, "IEND", nullptr, 0);
    if (!file.Close() || !written) {
        throw FatalError{Failure::SaveFailed};
    }
}
