// Our own PNG and BMP readers against the picture library on the same
// bytes: every file either gives exactly the library's 24-bit pixels or is
// declined, and whatever our recognition calls PNG or BMP the library calls
// so too. The files cover every colour type and bit depth, every filter,
// odd sizes, palettes and transparency, ancillary and unknown chunks,
// interlacing, the library's own encoder, and many kinds of corruption.
#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/log.h"
#include "image/image_file.h"
#include "image/own_readers.h"
#include "support/files.h"
#include "support/jpeg_files.h"
#include "support/libpng_oracle.h"
#include "support/pictures.h"
#include "support/png_files.h"

namespace {

struct ImageDeleter {
    void operator()(Image* image) const { DestroyImage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

class OwnReaders : public ::testing::Test {
protected:
    void SetUp() override {
        dir = ::testing::TempDir() + "glimra_own_readers_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        if (!HasFailure()) {
            std::filesystem::remove_all(dir);
        }
        std::cout << taken << " files taken by our readers; declined:";
        for (const auto& [reason, count] : declines) {
            std::cout << " " << reason << " " << count << ";";
        }
        std::cout << "\n";
    }

    // Compares both ways of reading `bytes`. `mustTake`: a well-formed file
    // of a kind our readers are meant for, which they may not decline.
    void Check(const std::string& name, const std::string& bytes, bool mustTake) {
        const std::string path = dir + "/" + std::to_string(files++);
        WriteFileBytes(path, bytes);
        SCOPED_TRACE(name);

        const OwnFormat ours = RecogniseOwnFormat(
            reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        const FREE_IMAGE_FORMAT library = FreeImage_GetFileType(path.c_str(), 0);
        if (ours == OwnFormat::Png || library == FIF_PNG) {
            EXPECT_TRUE(ours == OwnFormat::Png && library == FIF_PNG) << "PNG recognition";
        }
        if (ours == OwnFormat::Bmp) {
            EXPECT_EQ(library, FIF_BMP) << "BMP recognition";
        }
        if (ours == OwnFormat::Jpeg) {
            EXPECT_EQ(library, FIF_JPEG) << "JPEG recognition";
        }

        const PictureFile file = OpenPictureFile(path.c_str());
        ASSERT_NE(file, nullptr);
        const ReadResult result = ReadWithOwnReader(file.get());
        const ImagePtr own(result.image);
        if (own == nullptr) {
            ++declines[result.declined];
            EXPECT_FALSE(mustTake) << "declined: " << result.declined;
            return;
        }
        ++taken;
        ImagePtr reference;
        Failure refusal = Failure::None;
        try {
            reference.reset(LoadImageFileWithLibrary(path.c_str()));
        } catch (const FatalError& error) {
            refusal = error.failure;
        }
        ASSERT_NE(reference, nullptr)
            << "ours read what the library cannot (failure " << static_cast<int>(refusal) << ")";
        ASSERT_EQ(own->width, reference->width);
        ASSERT_EQ(own->height, reference->height);
        const std::size_t size = ImageBufferSize(own->width, own->height);
        EXPECT_EQ(std::memcmp(own->pixels, reference->pixels, size), 0) << "pixels differ";
        if (HasLowGreyColourKey(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {
            ExpectLibpngsAlpha(*own, path);
        } else {
            ExpectSameDeepSamples(*own, *reference);
        }
    }

    // Where the library errs, libpng's alpha holds.
    static void ExpectLibpngsAlpha(const Image& own, const std::string& path) {
        const std::vector<std::uint8_t> expected = AlphaByLibpng(path);
        ASSERT_EQ(expected.size(), AlphaPlaneSize(own.width, own.height)) << "libpng's reading";
        std::vector<std::uint8_t> alpha(expected.size(), 255);
        if (own.alpha != nullptr) {
            std::memcpy(alpha.data(), own.alpha, alpha.size());
        }
        EXPECT_EQ(alpha, expected) << "alpha differs from libpng's";
        EXPECT_TRUE(own.storesAlpha);
    }

    // What the library's native bitmap holds beyond the 24-bit form.
    static void ExpectSameDeepSamples(const Image& own, const Image& reference) {
        ASSERT_EQ(own.samples, reference.samples);
        EXPECT_EQ(own.storesAlpha, reference.storesAlpha);
        ASSERT_EQ(own.alpha == nullptr, reference.alpha == nullptr) << "alpha plane";
        if (own.alpha != nullptr) {
            EXPECT_EQ(std::memcmp(own.alpha, reference.alpha, AlphaPlaneSize(own.width, own.height)), 0)
                << "alpha differs";
        }
        ASSERT_EQ(own.deep == nullptr, reference.deep == nullptr) << "deep plane";
        if (own.deep != nullptr) {
            EXPECT_EQ(std::memcmp(own.deep, reference.deep, DeepPlaneSize(own.width, own.height, own.samples)), 0)
                << "16-bit samples differ";
        }
    }

    std::string dir;
    int files = 0;
    int taken = 0;
    std::map<std::string, int> declines;
};

std::string Bytes(std::mt19937& random, std::size_t size, unsigned below = 256) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() % below);
    }
    return bytes;
}

struct PngKind {
    int colourType;
    int depth;
};

const PngKind kPngKinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                             {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

std::size_t Samples(int colourType) {
    return colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
}

// A well-formed PNG of random pixels; palette files get a palette of
// `entries` colours (0: as many as the depth allows) and indices below it.
struct PngParts {
    std::uint32_t width;
    std::uint32_t height;
    PngKind kind;
    std::string raw;        // unfiltered rows
    std::string beforeData; // PLTE and the like
    std::size_t rowBytes;
    std::size_t bpp;
};

PngParts RandomPng(std::mt19937& random, PngKind kind, std::uint32_t width, std::uint32_t height,
                   unsigned entries = 0) {
    PngParts parts{width, height, kind, "", "", 0, 0};
    const std::size_t bits = Samples(kind.colourType) * static_cast<std::size_t>(kind.depth);
    parts.rowBytes = (width * bits + 7) / 8;
    parts.bpp = std::max<std::size_t>(1, bits / 8);
    if (kind.colourType == 3) {
        const unsigned most = 1u << kind.depth;
        entries = entries == 0 ? most : std::min(entries, most);
        parts.beforeData = PngChunk("PLTE", Bytes(random, 3 * entries));
        // Indices below `entries`, packed from the high bits down.
        for (std::uint32_t y = 0; y < height; ++y) {
            std::string row(parts.rowBytes, '\0');
            for (std::uint32_t x = 0; x < width; ++x) {
                const unsigned index = random() % entries;
                const std::size_t bit = x * static_cast<std::size_t>(kind.depth);
                row[bit / 8] = static_cast<char>(row[bit / 8] |
                                                 index << (8 - kind.depth - bit % 8));
            }
            parts.raw += row;
        }
    } else {
        parts.raw = Bytes(random, parts.rowBytes * height);
    }
    return parts;
}

// A tRNS colour key (two bytes a sample) that the first pixel matches.
std::string KeyOfFirstPixel(const PngParts& parts) {
    std::string key;
    for (std::size_t c = 0; c < (parts.kind.colourType == 2 ? 3u : 1u); ++c) {
        const auto* raw = reinterpret_cast<const std::uint8_t*>(parts.raw.data());
        unsigned value = 0;
        if (parts.kind.depth == 16) {
            value = static_cast<unsigned>(raw[2 * c] << 8 | raw[2 * c + 1]);
        } else if (parts.kind.depth == 8) {
            value = raw[c];
        } else {
            value = raw[0] >> (8 - parts.kind.depth);
        }
        key += static_cast<char>(value >> 8);
        key += static_cast<char>(value & 0xFF);
    }
    return key;
}

std::string Encode(const PngParts& parts, const std::function<int(std::size_t)>& filterOf,
                   const std::string& extraBeforeData = "", std::size_t idatSize = 1 << 20) {
    return MakePng(parts.width, parts.height, parts.kind.depth, parts.kind.colourType,
                   FilterRows(parts.raw, parts.rowBytes, parts.bpp, filterOf),
                   parts.beforeData + extraBeforeData, 0, idatSize);
}

TEST_F(OwnReaders, EveryPngKindSizeAndFilterGivesTheLibrarysPixels) {
    std::mt19937 random(11);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
        {1, 1}, {1, 9}, {9, 1}, {2, 3}, {3, 2}, {5, 4}, {7, 7}, {8, 3}, {13, 5}, {31, 6}, {33, 9}, {64, 2}};
    for (const PngKind& kind : kPngKinds) {
        for (const auto& [width, height] : sizes) {
            const PngParts parts = RandomPng(random, kind, width, height);
            const std::string what = "type " + std::to_string(kind.colourType) + " depth " +
                                     std::to_string(kind.depth) + " " + std::to_string(width) + "x" +
                                     std::to_string(height);
            for (int filter = 0; filter <= 4; ++filter) {
                Check(what + " filter " + std::to_string(filter),
                      Encode(parts, [filter](std::size_t) { return filter; }), true);
            }
            const unsigned seed = static_cast<unsigned>(random());
            const auto mixed = [seed](std::size_t y) { return static_cast<int>((y * 7 + seed) % 5); };
            Check(what + " mixed filters", Encode(parts, mixed), true);
            const std::size_t bits = Samples(kind.colourType) * static_cast<std::size_t>(kind.depth);
            Check(what + " interlaced",
                  MakePng(width, height, kind.depth, kind.colourType,
                          Adam7Scanlines(parts.raw, width, height, bits, mixed), parts.beforeData, 1),
                  true);
        }
    }
}

TEST_F(OwnReaders, PalettesTransparencyAndAncillaryChunks) {
    std::mt19937 random(12);
    const auto mixed = [](std::size_t y) { return static_cast<int>(y % 5); };
    for (const PngKind kind : {PngKind{3, 1}, PngKind{3, 2}, PngKind{3, 4}, PngKind{3, 8}}) {
        for (const unsigned entries : {1u, 2u, 3u, 16u, 200u}) {
            const PngParts parts = RandomPng(random, kind, 17, 6, entries);
            const std::string what = "palette depth " + std::to_string(kind.depth) + " of " +
                                     std::to_string(entries);
            Check(what, Encode(parts, mixed), true);
            const std::size_t used = std::min(entries, 1u << kind.depth);
            Check(what + " with tRNS", Encode(parts, mixed, PngChunk("tRNS", Bytes(random, used))), true);
            Check(what + " with a short tRNS",
                  Encode(parts, mixed, PngChunk("tRNS", Bytes(random, (used + 1) / 2))), true);
            Check(what + " with a long tRNS",
                  Encode(parts, mixed, PngChunk("tRNS", Bytes(random, used + 1))), false);
        }
        // Indices past the palette's end.
        PngParts parts = RandomPng(random, kind, 9, 4, 2);
        parts.raw = Bytes(random, parts.raw.size());
        Check("palette with indices past its end", Encode(parts, mixed), false);
        PngParts noPalette = RandomPng(random, kind, 9, 4);
        noPalette.beforeData = "";
        Check("palette file without PLTE", Encode(noPalette, mixed), false);
    }
    for (const PngKind& kind : kPngKinds) {
        if (kind.colourType == 3) {
            continue;
        }
        const PngParts parts = RandomPng(random, kind, 11, 5);
        const std::string what = "type " + std::to_string(kind.colourType) + " depth " +
                                 std::to_string(kind.depth);
        const bool keyable = kind.colourType == 0 || kind.colourType == 2;
        Check(what + " with the colour key of its first pixel",
              Encode(parts, mixed, PngChunk("tRNS", KeyOfFirstPixel(parts))), keyable);
        const std::size_t bits = Samples(kind.colourType) * static_cast<std::size_t>(kind.depth);
        Check(what + " interlaced, with the colour key of its first pixel",
              MakePng(parts.width, parts.height, kind.depth, kind.colourType,
                      Adam7Scanlines(parts.raw, parts.width, parts.height, bits, mixed),
                      PngChunk("tRNS", KeyOfFirstPixel(parts)), 1),
              keyable);
        if (kind.depth < 16) {
            Check(what + " with a colour key out of range",
                  Encode(parts, mixed, PngChunk("tRNS", std::string(kind.colourType == 2 ? 6 : 2, '\xff'))),
                  false);
        }
        Check(what + " with PLTE", Encode(parts, mixed, PngChunk("PLTE", Bytes(random, 30))), false);
    }
    // Chunks that change nothing in the stored samples.
    const PngParts rgb = RandomPng(random, {2, 8}, 23, 7);
    const std::string gamma = PngChunk("gAMA", std::string("\x00\x00\xb1\x8f", 4));
    const std::string text = PngChunk("tEXt", std::string("Comment\0made by a test", 22));
    const std::string unknown = PngChunk("vpAg", Bytes(random, 9));
    const std::string srgb = PngChunk("sRGB", std::string(1, '\0'));
    const std::string chrm = PngChunk("cHRM", Bytes(random, 32));
    for (const std::string& extra : {gamma, text, unknown, srgb, chrm, gamma + text + unknown + srgb + chrm}) {
        Check("RGB with ancillary chunks", Encode(rgb, mixed, extra), true);
    }
    // Ancillary chunks after the image data, and data in many IDATs.
    std::string file = Encode(rgb, mixed, "", 7);
    file.insert(file.size() - 12, text + unknown);
    Check("ancillary chunks after IDAT, IDATs of 7 bytes", file, true);
    Check("an unknown critical chunk", Encode(rgb, mixed, PngChunk("CRIT", "x")), false);
    Check("a chunk with the reserved bit", Encode(rgb, mixed, PngChunk("prIv", "x")), false);
}

TEST_F(OwnReaders, CorruptAndUnusualPngFiles) {
    std::mt19937 random(13);
    const auto mixed = [](std::size_t y) { return static_cast<int>(y % 5); };
    const PngParts rgb = RandomPng(random, {2, 8}, 40, 20);
    const std::string good = Encode(rgb, mixed, "", 300);
    Check("the base file", good, true);

    const std::string scanlines = FilterRows(rgb.raw, rgb.rowBytes, rgb.bpp, mixed);
    const std::string header = kPngSignature + PngHeaderChunk(40, 20, 8, 2);
    const std::string end = PngChunk("IEND", "");
    Check("interlace method 2", MakePng(40, 20, 8, 2, scanlines, "", 2), false);
    Check("data after IEND", good + "trailing", false);
    Check("no IEND", good.substr(0, good.size() - 12), false);
    Check("two IHDR", kPngSignature + PngHeaderChunk(40, 20, 8, 2) + good.substr(8), false);
    // A zlib header naming a window smaller than the distances used.
    const PngParts wide = RandomPng(random, {2, 8}, 400, 30);
    const std::string wideLines = FilterRows(wide.raw, wide.rowBytes, wide.bpp, [](std::size_t) { return 0; });
    const std::string repeated = wideLines.substr(0, 1201 * 10) + wideLines.substr(0, 1201 * 10) +
                                 wideLines.substr(0, 1201 * 10);
    std::string small = Deflated(repeated);
    small[0] = 0x28;  // 1 KiB window
    small[1] = static_cast<char>(31 - (0x28 * 256) % 31);
    Check("a zlib window smaller than its distances",
          kPngSignature + PngHeaderChunk(400, 30, 8, 2) + PngChunk("IDAT", small) + end, false);

    // Checksums and cuts at every chunk boundary and inside chunks.
    for (std::size_t at = 8; at < good.size(); at += 37) {
        std::string flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
        Check("one bit flipped at " + std::to_string(at), flipped, false);
        Check("cut at " + std::to_string(at), good.substr(0, at), false);
    }
    // Random damage, many times over.
    for (int round = 0; round < 300; ++round) {
        std::string damaged = good;
        const int hits = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < hits; ++i) {
            damaged[8 + random() % (damaged.size() - 8)] = static_cast<char>(random());
        }
        Check("random damage", damaged, false);
    }
}

// The image data's faults and oddities, in a picture small enough for its
// data to be inflated whole and in one whose rows are inflated as a stream.
TEST_F(OwnReaders, ImageDataInflatedWholeOrStreamed) {
    std::mt19937 random(17);
    const auto mixed = [](std::size_t y) { return static_cast<int>(y % 5); };
    for (const std::uint32_t height : {20u, 9000u}) {
        SCOPED_TRACE("height " + std::to_string(height));
        const PngParts rgb = RandomPng(random, {2, 8}, 40, height);
        const std::string scanlines = FilterRows(rgb.raw, rgb.rowBytes, rgb.bpp, mixed);
        const std::string header = kPngSignature + PngHeaderChunk(40, height, 8, 2);
        const std::string end = PngChunk("IEND", "");
        const std::string deflated = Deflated(scanlines);
        Check("many IDATs", Encode(rgb, mixed, "", height < 100 ? 7 : 1000), true);
        Check("too few rows", header + PngChunk("IDAT", Deflated(scanlines.substr(0, scanlines.size() - 121))) + end,
              false);
        Check("too many rows", header + PngChunk("IDAT", Deflated(scanlines + scanlines.substr(0, 121))) + end,
              false);
        Check("bytes after the zlib stream", header + PngChunk("IDAT", deflated + "xyz") + end, false);
        Check("a non-empty IDAT after the stream",
              header + PngChunk("IDAT", deflated) + PngChunk("IDAT", "xyz") + end, false);
        std::string badAdler = deflated;
        badAdler.back() = static_cast<char>(badAdler.back() ^ 1);
        Check("adler-32 error", header + PngChunk("IDAT", badAdler) + end, false);
        std::string badCrc = header + PngChunk("IDAT", deflated) + end;
        badCrc[badCrc.size() - 13] = static_cast<char>(badCrc[badCrc.size() - 13] ^ 1);
        Check("an IDAT's CRC", badCrc, false);
        std::string badFilter = scanlines;
        badFilter[121 * 3] = 5;
        Check("filter type 5", header + PngChunk("IDAT", Deflated(badFilter)) + end, false);
        Check("stored blocks", header + PngChunk("IDAT", Deflated(scanlines, 0)) + end, true);
        Check("zero-length IDATs",
              header + PngChunk("IDAT", "") + PngChunk("IDAT", deflated) + PngChunk("IDAT", "") + end, true);
        Check("an ancillary chunk between IDATs",
              header + PngChunk("IDAT", deflated.substr(0, 50)) + PngChunk("tEXt", std::string("a\0b", 3)) +
                  PngChunk("IDAT", deflated.substr(50)) + end,
              false);
    }
}

TEST_F(OwnReaders, FilesTheLibraryWrites) {
    // The library's own encoder, with its own choice of filters and chunks.
    std::mt19937 random(14);
    for (const auto& [width, height] : std::vector<std::pair<int, int>>{{1, 1}, {37, 23}, {300, 200}}) {
        const Pixels24 pixels = PatternPixels(width, height, 9);
        for (const char* name : {"p.png", "p.bmp"}) {
            SavePicture(dir + "/" + name, pixels);
            Check(std::string("library-written ") + name, ReadFileBytes(dir + "/" + name), true);
        }
        const auto value = [](int x, int y) {
            return 0x7F000000u | static_cast<std::uint32_t>((x * 5) << 16 | (y * 9) << 8 | (x ^ y));
        };
        for (const int depth : {8, 32}) {
            for (const char* name : {"d.png", "d.bmp"}) {
                SaveDepthPicture(dir + "/" + name, width, height, depth, true, value);
                // 8-bit BMP is a palette picture: the library's to read.
                const bool ours = depth == 32 || std::string(name) == "d.png";
                Check("library-written depth " + std::to_string(depth) + " " + name,
                      ReadFileBytes(dir + "/" + name), ours);
            }
        }
    }
}

// A BMP written byte by byte.
std::string Bmp(std::int32_t width, std::int32_t height, int bits, std::uint32_t infoSize,
                std::uint32_t compression, const std::string& pixels, std::uint32_t gap = 0,
                std::uint16_t planes = 1) {
    std::string info;
    PutLittleEndian(info, infoSize, 4);
    PutLittleEndian(info, static_cast<std::uint32_t>(width), 4);
    PutLittleEndian(info, static_cast<std::uint32_t>(height), 4);
    PutLittleEndian(info, planes, 2);
    PutLittleEndian(info, static_cast<std::uint32_t>(bits), 2);
    PutLittleEndian(info, compression, 4);
    PutLittleEndian(info, static_cast<std::uint32_t>(pixels.size()), 4);
    PutLittleEndian(info, 2835, 4);
    PutLittleEndian(info, 2835, 4);
    PutLittleEndian(info, 0, 4);
    PutLittleEndian(info, 0, 4);
    if (compression == 3 || infoSize > 40) {
        for (const std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) {
            PutLittleEndian(info, mask, 4);
        }
    }
    info.resize(std::max<std::size_t>(info.size(), infoSize), '\0');
    const std::uint32_t offset = 14 + static_cast<std::uint32_t>(info.size()) + gap;
    std::string file = "BM";
    PutLittleEndian(file, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, offset, 4);
    return file + info + std::string(gap, '\x55') + pixels;
}

TEST_F(OwnReaders, EveryBmpLayoutGivesTheLibrarysPixels) {
    std::mt19937 random(15);
    for (const int bits : {24, 32}) {
        for (const std::int32_t width : {1, 2, 3, 4, 5, 7, 8, 33}) {
            for (const std::int32_t height : {1, 3, -1, -4}) {
                const std::size_t pitch = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
                const std::string pixels = Bytes(random, pitch * static_cast<std::size_t>(std::abs(height)));
                const std::string what = std::to_string(bits) + "-bit " + std::to_string(width) + "x" +
                                         std::to_string(height);
                Check(what, Bmp(width, height, bits, 40, 0, pixels), true);
                Check(what + " with a gap before the pixels", Bmp(width, height, bits, 40, 0, pixels, 9), true);
                // The library refuses these; ours must not read them either.
                Check(what + " V4 header", Bmp(width, height, bits, 108, 0, pixels), false);
                Check(what + " V5 header", Bmp(width, height, bits, 124, 0, pixels), false);
                Check(what + " with bytes after the pixels", Bmp(width, height, bits, 40, 0, pixels + "tail"), true);
                if (bits == 32) {
                    Check(what + " with bit fields", Bmp(width, height, bits, 40, 3, pixels), true);
                }
                Check(what + " cut short", Bmp(width, height, bits, 40, 0, pixels.substr(0, pixels.size() - 1)),
                      false);
            }
        }
    }
    const std::string pixels = Bytes(random, 12 * 4);
    Check("no planes", Bmp(4, 4, 24, 40, 0, pixels, 0, 0), false);
    Check("16-bit", Bmp(4, 4, 16, 40, 0, pixels), false);
    Check("8-bit without a palette", Bmp(4, 4, 8, 40, 0, pixels), false);
    Check("RLE", Bmp(4, 4, 24, 40, 1, pixels), false);
    Check("negative width", Bmp(-4, 4, 24, 40, 0, pixels), false);
    Check("no rows", Bmp(4, 0, 24, 40, 0, pixels), false);
    Check("OS/2 header", Bmp(4, 4, 24, 12, 0, pixels), false);
    Check("pixel offset inside the header", Bmp(4, 4, 24, 40, 0, pixels).replace(10, 4, std::string("\x10\0\0\0", 4)),
          false);
    const std::string good = Bmp(7, 5, 24, 40, 0, Bytes(random, 24 * 5));
    for (int round = 0; round < 200; ++round) {
        std::string damaged = good;
        damaged[2 + random() % 52] = static_cast<char>(random());
        Check("random header damage", damaged, false);
    }
}

// Every JPEG our encoder makes is taken and decodes to the library's
// pixels; cut or damaged, it still does, or is declined.
TEST_F(OwnReaders, EveryJpegKindGivesTheLibrarysPixels) {
    using Colour = JpegSettings::Colour;
    std::vector<std::pair<std::string, std::string>> made;
    const std::pair<int, int> sizes[] = {{1, 1}, {7, 5}, {16, 16}, {17, 33}, {64, 48}, {133, 71}};
    const std::pair<int, int> samplings[] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {4, 1}};
    for (const auto& [width, height] : sizes) {
        const Pixels24 pixels = PatternPixels(width, height, static_cast<unsigned>(width));
        for (const auto& [h, v] : samplings) {
            for (const Colour colour : {Colour::YCbCr, Colour::Grey, Colour::Rgb}) {
                JpegSettings settings;
                settings.horizontalSampling = h;
                settings.verticalSampling = v;
                settings.colour = colour;
                settings.progressive = (width + h) % 2 == 0;
                settings.restartRows = v == 1 ? 1 : 0;
                settings.quality = 50 + 10 * h;
                const std::string name = std::to_string(width) + "x" + std::to_string(height) + " " +
                                         std::to_string(h) + "x" + std::to_string(v) + " colour " +
                                         std::to_string(colour) + (settings.progressive ? " progressive" : "");
                made.emplace_back(name, MakeJpeg(pixels, settings));
                Check(name, made.back().second, true);
            }
        }
    }
    JpegSettings arithmetic;
    arithmetic.arithmetic = true;
    Check("arithmetic coding", MakeJpeg(PatternPixels(40, 30), arithmetic), true);
    JpegSettings cmyk;
    cmyk.colour = Colour::Cmyk;
    Check("CMYK", MakeJpeg(PatternPixels(40, 30), cmyk), false);

    std::mt19937 random(3);
    for (const auto& [name, bytes] : made) {
        if (bytes.size() < 200) {
            continue;
        }
        for (const std::size_t cut : {bytes.size() - 2, bytes.size() * 3 / 4, bytes.size() / 2, std::size_t{150}}) {
            Check(name + " cut at " + std::to_string(cut), bytes.substr(0, cut), false);
        }
        std::string damaged = bytes;
        for (int i = 0; i < 4; ++i) {
            // Past the headers: the entropy-coded data.
            damaged[bytes.size() / 2 + random() % (bytes.size() / 2 - 2)] = static_cast<char>(random());
        }
        Check(name + " damaged", damaged, false);
    }
    // Files larger than the 4 KiB the decoder is fed at a time: libjpeg
    // recovers from damaged data by where its input buffer ends.
    const std::pair<int, int> large[] = {{127, 64}, {300, 200}, {113, 700}};
    for (const auto& [width, height] : large) {
        Pixels24 noisy = PatternPixels(width, height, 9);
        for (auto& byte : noisy.bytes) {
            byte = static_cast<std::uint8_t>(byte ^ (random() % 32));
        }
        for (const bool progressive : {false, true}) {
            JpegSettings settings;
            settings.progressive = progressive;
            settings.quality = 90;
            const std::string bytes = MakeJpeg(noisy, settings);
            const std::string name = std::to_string(width) + "x" + std::to_string(height) +
                                     (progressive ? " progressive" : "") + ", " + std::to_string(bytes.size()) + " bytes";
            Check(name, bytes, true);
            for (int trial = 0; trial < 6; ++trial) {
                std::string damaged = bytes;
                for (int i = 0; i < 1 + trial; ++i) {
                    damaged[bytes.size() / 8 + random() % (bytes.size() * 7 / 8 - 2)] = static_cast<char>(random());
                }
                Check(name + " damaged", damaged, false);
                for (const std::size_t cut : {std::size_t{4096}, std::size_t{4097}, bytes.size() * 2 / 3}) {
                    Check(name + " damaged, cut at " + std::to_string(cut), damaged.substr(0, cut), false);
                }
            }
        }
    }
}

// JPEGs damaged by fuzzing public files, from the folder shared beside the
// repository (skipped without it): fed whole to the decoder, these decoded
// to other pixels than the library's. Cut at several points as well.
TEST_F(OwnReaders, JpegsDamagedByFuzzingGiveTheLibrarysPixels) {
    const std::filesystem::path folder = GLIMRA_FAULTS_DIR "/jpeg-damaged";
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << folder << " is not there";
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string bytes = ReadFileBytes(entry.path().string());
        const std::string name = entry.path().filename().string();
        Check(name, bytes, false);
        for (const std::size_t cut : {std::size_t{4096}, std::size_t{4097}, bytes.size() / 2, bytes.size() - 3}) {
            Check(name + " cut at " + std::to_string(cut), bytes.substr(0, cut), false);
        }
    }
}

TEST_F(OwnReaders, FilesThatAreNotOursGoToTheLibrary) {
    SavePicture(dir + "/p.tif", PatternPixels(5, 5));
    SavePicture(dir + "/p.tga", PatternPixels(5, 5));
    for (const char* name : {"p.tif", "p.tga"}) {
        Check(name, ReadFileBytes(dir + "/" + name), false);
    }
    for (const std::string& bytes :
         {std::string(), std::string("B"), std::string("BA\0\0\0\0", 6), std::string("just text\n"),
          kPngSignature.substr(0, 7), kPngSignature, std::string("BM") + std::string(60, '\0'),
          ReadFileBytes("/proc/self/exe").substr(0, 4096)}) {
        Check("not a picture of ours", bytes, false);
    }
}

}  // namespace
