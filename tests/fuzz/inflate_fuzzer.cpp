// libFuzzer target: the row reader's two inflaters against zlib, the
// inflater libpng uses, on mutated zlib streams: the streamed one fed in
// pieces of every size, and libdeflate's, which small pictures' image data
// goes to whole. What either takes, zlib must take too, with the same
// bytes out and the same end; anything zlib refuses, they must refuse. A
// PNG input gives its IDAT data as the stream, so the PNG seeds serve too.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "stream/zlib_inflater.h"

namespace {

// Output beyond this is not followed: neither verdict is asked for.
constexpr std::size_t kMostOut = std::size_t{4} << 20;

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// The IDAT data of a PNG, or the input itself.
std::string StreamOf(const std::uint8_t* data, std::size_t size) {
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(data, kSignature, 8) != 0) {
        return std::string(reinterpret_cast<const char*>(data), size);
    }
    std::string stream;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = BigEndian32(data + at);
        if (length > size - at - 12) {
            break;
        }
        if (std::memcmp(data + at + 4, "IDAT", 4) == 0) {
            stream.append(reinterpret_cast<const char*>(data + at + 8), length);
        }
        at += 12 + std::size_t{length};
    }
    return stream;
}

struct Verdict {
    bool ended = false;
    std::string out;
    std::size_t consumed = 0;
};

Verdict Zlib(const std::string& stream) {
    Verdict verdict;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        std::abort();
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
    z.avail_in = static_cast<uInt>(stream.size());
    std::string out(kMostOut + 1, '\0');
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    verdict.ended = status == Z_STREAM_END;
    out.resize(out.size() - z.avail_out);
    verdict.out = out;
    verdict.consumed = stream.size() - z.avail_in;
    inflateEnd(&z);
    return verdict;
}

// Pieces in and room out of sizes drawn from the stream's own bytes.
Verdict Ours(const std::string& stream) {
    Verdict verdict;
    ZlibInflater inflater;
    std::size_t given = 0;
    std::uint8_t room[4096];
    unsigned draw = stream.empty() ? 1 : static_cast<std::uint8_t>(stream.back());
    while (!inflater.Ended() && !inflater.Broken() && verdict.out.size() <= kMostOut) {
        draw = draw * 1103515245u + 12345u;
        if (inflater.NeedsInput() || given == 0) {
            if (given == stream.size()) {
                break;
            }
            const std::size_t piece = std::min<std::size_t>(stream.size() - given, given == 0 ? 2 + draw % 64 : 1 + draw % 300);
            inflater.Give(reinterpret_cast<const std::uint8_t*>(stream.data()) + given, piece);
            given += piece;
        }
        const std::size_t made = inflater.Inflate(room, 1 + (draw >> 8) % sizeof room);
        verdict.out.append(reinterpret_cast<const char*>(room), made);
    }
    verdict.ended = inflater.Ended();
    verdict.consumed = inflater.Ended() ? given - inflater.BytesBeyondEnd() : 0;
    return verdict;
}

// The whole stream at once, as the reader inflates small pictures.
Verdict Whole(const std::string& stream) {
    Verdict verdict;
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    if (decompressor == nullptr) {
        std::abort();
    }
    // One room for every run: filling 4 MiB afresh each time would be most
    // of the run.
    static const std::unique_ptr<char[]> out(new char[kMostOut]);
    std::size_t made = 0;
    verdict.ended = libdeflate_zlib_decompress_ex(decompressor, stream.data(), stream.size(), out.get(), kMostOut,
                                                  &verdict.consumed, &made) == LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(decompressor);
    verdict.out.assign(out.get(), verdict.ended ? made : 0);
    return verdict;
}

// What an inflater took must be what zlib takes.
void AgreesWithZlib(const Verdict& taken, const Verdict& zlib, const char* who) {
    if (!zlib.ended) {
        Finding((std::string(who) + " took a stream zlib refuses").c_str());
    }
    if (zlib.out != taken.out) {
        Finding((std::string(who) + " and zlib made different bytes").c_str());
    }
    if (zlib.consumed != taken.consumed) {
        Finding((std::string(who) + " and zlib ended the stream at different bytes").c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string stream = StreamOf(data, size);
    const Verdict streamed = Ours(stream);
    const Verdict whole = Whole(stream);
    const bool streamedTook = streamed.ended && streamed.out.size() <= kMostOut;
    if (!streamedTook && !whole.ended) {
        return 0;
    }
    const Verdict zlib = Zlib(stream);
    if (streamedTook) {
        AgreesWithZlib(streamed, zlib, "the streamed inflater");
    }
    if (whole.ended) {
        AgreesWithZlib(whole, zlib, "libdeflate");
    }
    return 0;
}
