#include "stream/png_row_writer.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "stream/png_rows.h"

namespace {

// Rows are encoded a band of about this many bytes at a time.
constexpr std::size_t kBandBytes = std::size_t{256} << 10;
// A chunk holds at most 2^31 - 1 bytes.
constexpr std::size_t kLargestChunk = std::size_t{1} << 30;

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
constexpr void AssignCodes(const std::uint8_t (&lengths)[N], std::uint16_t (&codes)[N]) {
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
    std::uint8_t lengths[286] = {};
    std::uint16_t codes[286] = {};

    // Folded at compile time: nothing for the tool's start to do.
    constexpr RunCode() {
        for (unsigned symbol = 0; symbol < 286; ++symbol) {
            lengths[symbol] = symbol == 285 ? 1 : symbol < 227 ? 9 : 10;
        }
        AssignCodes(lengths, codes);
    }
};

// One deflate block, not the last, that says "the byte before, n times
// more" (a match at distance 1) for every run and spells out every other
// byte, ended on a byte boundary by an empty stored block. It looks at no
// byte before its own.
class RunEncoder {
public:
    explicit RunEncoder(std::vector<std::uint8_t>& output) : out(output) {
        Put(0, 1);  // not the last block
        Put(2, 2);  // Huffman codes of its own
        PutCodes();
    }

    // The next bytes of the band.
    void Add(const std::uint8_t* bytes, std::size_t size) {
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

    // Ends the block, then an empty stored block pads it to a whole byte.
    void Finish() {
        FlushRun();
        PutSymbol(256);
        Put(0, 3);  // not the last, stored
        if (count > 0) {
            out.push_back(static_cast<std::uint8_t>(bits));
        }
        // LEN 0 and its complement NLEN.
        static const std::uint8_t kEmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
        out.insert(out.end(), kEmptyStored, kEmptyStored + 4);
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

    static constexpr RunCode kRunCode{};
    std::vector<std::uint8_t>& out;
    std::uint64_t bits = 0;
    unsigned count = 0;
    int previous = -1;
    std::size_t run = 0;
};


// The band of `size` bytes as runs alone, row by row; false once the
// encoding is more than an eighth of what it encoded, where a real
// compressor does better.
bool EncodeRuns(const std::uint8_t* band, std::size_t size, std::size_t rowBytes, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    RunEncoder encoder(out);
    for (std::size_t at = 0; at < size; at += rowBytes) {
        encoder.Add(band + at, rowBytes);
        if (at + rowBytes >= (std::size_t{64} << 10) && out.size() - start > (at + rowBytes) / 8) {
            out.resize(start);
            return false;
        }
    }
    encoder.Finish();
    return true;
}

}  // namespace

struct PngRowWriter::State {
    std::FILE* file;
    std::size_t width;
    std::uint32_t rowsLeft;
    Content content;
    bool failed = false;
    // Rows led by their filter byte (0: none), red-green-blue, waiting to
    // be encoded a band at a time.
    std::size_t rowBytes;
    std::size_t bandRows;
    std::vector<std::uint8_t> band;
    std::size_t bandFill = 0;
    // The encoded band, behind the stream's two header bytes at first.
    std::vector<std::uint8_t> encoded;
    std::uint32_t adler = 1;
    isal_zstream deflater{};
    std::unique_ptr<std::uint8_t[]> levelBuffer;

    State(std::FILE* out, std::uint32_t pictureWidth, std::uint32_t height, Content kind)
        : file(out), width(pictureWidth), rowsLeft(height), content(kind), rowBytes(1 + 3 * width),
          bandRows(std::max<std::size_t>(1, kBandBytes / rowBytes)),
          levelBuffer(new (std::nothrow) std::uint8_t[ISAL_DEF_LVL1_DEFAULT]) {
        isal_deflate_init(&deflater);
        deflater.level = 1;
        deflater.level_buf = levelBuffer.get();
        deflater.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
        deflater.flush = FULL_FLUSH;
        failed = levelBuffer == nullptr;
        encoded = {0x78, 0x01};  // deflate, 32 KiB window; no dictionary, fastest
    }

    bool WriteHeader(std::uint32_t height);
    bool Deflate(const std::uint8_t* bytes, std::size_t size);
    bool EncodeBand();
};

bool PngRowWriter::State::WriteHeader(std::uint32_t height) {
    std::uint8_t header[13];
    PutBigEndian32(header, static_cast<std::uint32_t>(width));
    PutBigEndian32(header + 4, height);
    const std::uint8_t rest[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter method, no interlace
    std::memcpy(header + 8, rest, sizeof rest);
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return file != nullptr && std::fwrite(kSignature, 1, 8, file) == 8 && WriteChunk(file, "IHDR", header, sizeof header);
}

// The band through ISA-L, flushed to a byte boundary with its history
// forgotten: what follows may come from either encoder.
bool PngRowWriter::State::Deflate(const std::uint8_t* bytes, std::size_t size) {
    deflater.next_in = const_cast<std::uint8_t*>(bytes);
    deflater.avail_in = static_cast<std::uint32_t>(size);
    std::uint8_t out[64 << 10];
    do {
        deflater.next_out = out;
        deflater.avail_out = sizeof out;
        if (isal_deflate(&deflater) != COMP_OK) {
            return false;
        }
        encoded.insert(encoded.end(), out, out + (sizeof out - deflater.avail_out));
    } while (deflater.avail_in > 0 || deflater.avail_out == 0);
    return true;
}

bool PngRowWriter::State::EncodeBand() {
    adler = libdeflate_adler32(adler, band.data(), bandFill);
    const bool runs = content == Content::MostlyBlack && EncodeRuns(band.data(), bandFill, rowBytes, encoded);
    if (!runs && !Deflate(band.data(), bandFill)) {
        return false;
    }
    bandFill = 0;
    for (std::size_t at = 0; at < encoded.size(); at += kLargestChunk) {
        if (!WriteChunk(file, "IDAT", encoded.data() + at, std::min(kLargestChunk, encoded.size() - at))) {
            return false;
        }
    }
    encoded.clear();
    return true;
}

PngRowWriter::PngRowWriter(std::FILE* file, std::uint32_t width, std::uint32_t height, Content content)
    : state(new State(file, width, height, content)) {
    State& s = *state;
    s.band.resize(s.bandRows * s.rowBytes);
    s.failed = s.failed || !s.WriteHeader(height);
}

PngRowWriter::~PngRowWriter() = default;

bool PngRowWriter::WriteRows(const std::uint8_t* bgr, std::size_t stride, std::uint32_t count) {
    State& s = *state;
    if (count > s.rowsLeft) {
        s.failed = true;
    }
    for (std::uint32_t i = 0; i < count && !s.failed; ++i) {
        std::uint8_t* row = s.band.data() + s.bandFill;
        row[0] = 0;
        // Blue-green-red to red-green-blue is the same swap.
        SwapRedAndBlue(bgr + i * stride, row + 1, s.width);
        s.bandFill += s.rowBytes;
        --s.rowsLeft;
        if (s.bandFill == s.band.size()) {
            s.failed = !s.EncodeBand();
        }
    }
    return !s.failed;
}

bool PngRowWriter::WriteBlackRows(std::uint32_t count) {
    const std::vector<std::uint8_t> black(3 * state->width, 0);
    return WriteRows(black.data(), 0, count);
}

bool PngRowWriter::Finish() {
    State& s = *state;
    if (s.failed || s.rowsLeft != 0 || (s.bandFill > 0 && !s.EncodeBand())) {
        return false;
    }
    // The last block: fixed codes, holding nothing but its end; then the
    // Adler-32 of every row byte.
    std::uint8_t end[6] = {0x03, 0x00};
    PutBigEndian32(end + 2, s.adler);
    s.encoded.insert(s.encoded.end(), end, end + sizeof end);
    return WriteChunk(s.file, "IDAT", s.encoded.data(), s.encoded.size()) && WriteChunk(s.file, "IEND", nullptr, 0);
}
