// The streamed inflater sums the Adler-32 itself and has ISA-L read the
// trailer from wherever the deflate data ended: in its bit buffer, in the
// piece in hand or in pieces still to come.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "stream/zlib_inflater.h"

namespace {

std::vector<std::uint8_t> Compressed(const std::vector<std::uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<std::uint8_t> stream(size);
    EXPECT_EQ(compress2(stream.data(), &size, data.data(), static_cast<uLong>(data.size()), 6), Z_OK);
    stream.resize(size);
    return stream;
}

struct Outcome {
    bool ended = false;
    bool broken = false;
    std::vector<std::uint8_t> made;
    std::size_t consumed = 0;  // once ended
};

// The stream in pieces of `piece` bytes, inflated into rooms of `room`,
// the next piece given only once nothing more is made, as the reader does.
Outcome Inflate(const std::vector<std::uint8_t>& stream, std::size_t piece, std::size_t room) {
    Outcome outcome;
    ZlibInflater inflater;
    std::vector<std::uint8_t> out(room);
    // The first piece holds the header's two bytes.
    std::size_t given = std::min(stream.size(), std::max<std::size_t>(piece, 2));
    inflater.Give(stream.data(), given);
    while (!inflater.Ended() && !inflater.Broken()) {
        const std::size_t made = inflater.Inflate(out.data(), room);
        outcome.made.insert(outcome.made.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(made));
        if (made == 0 && !inflater.Ended() && !inflater.Broken()) {
            if (!inflater.NeedsInput() || given == stream.size()) {
                break;
            }
            const std::size_t size = std::min(stream.size() - given, piece);
            inflater.Give(stream.data() + given, size);
            given += size;
        }
    }
    outcome.ended = inflater.Ended();
    outcome.broken = inflater.Broken();
    outcome.consumed = outcome.ended ? given - inflater.BytesBeyondEnd() : 0;
    return outcome;
}

TEST(ZlibInflater, JudgesTheTrailerWhereverThePiecesEnd) {
    std::vector<std::uint8_t> data(200000);
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < data.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<std::uint8_t>(i % 251 < 120 ? i / 7 : seed >> 24);
    }
    const std::vector<std::uint8_t> stream = Compressed(data);
    std::vector<std::uint8_t> followed = stream;
    followed.insert(followed.end(), {0xAB, 0xCD, 0xEF});

    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{4096}, stream.size()}) {
        for (const std::size_t room : {std::size_t{5}, std::size_t{65536}}) {
            SCOPED_TRACE(testing::Message() << "pieces of " << piece << ", room " << room);
            const Outcome whole = Inflate(stream, piece, room);
            EXPECT_TRUE(whole.ended);
            EXPECT_TRUE(whole.made == data);
            EXPECT_EQ(whole.consumed, stream.size());

            const Outcome more = Inflate(followed, piece, room);
            EXPECT_TRUE(more.ended);
            EXPECT_EQ(more.consumed, stream.size());

            // Every byte of the trailer counts.
            for (std::size_t at = stream.size() - 4; at < stream.size(); ++at) {
                std::vector<std::uint8_t> damaged = stream;
                damaged[at] ^= 0x10;
                const Outcome refused = Inflate(damaged, piece, room);
                EXPECT_TRUE(refused.broken) << "trailer byte " << at - (stream.size() - 4);
                EXPECT_FALSE(refused.ended);
            }
            const std::vector<std::uint8_t> cut(stream.begin(), stream.end() - 1);
            EXPECT_FALSE(Inflate(cut, piece, room).ended);
        }
    }
}

}  // namespace
