// "Identical" means the files hold the same samples: alpha, 16-bit and
// float samples take part at the precision both files hold, and
// --ignore-alpha leaves the 24-bit forms alone to decide.
#include "support/e2e_fixture.h"
#include "support/png_files.h"

#include <FreeImage.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

using DeepSamples = EndToEnd;

constexpr int kSide = 20;

// Inside the 10 x 10 block at 5,5.
bool InBlock(int x, int y) { return x >= 5 && x < 15 && y >= 5 && y < 15; }

// A kSide x kSide PNG whose pixel x, y has the samples `samples(x, y)`, in
// file order, of `depth` bits each (8 or 16).
std::string Png(int colourType, int depth, const std::function<std::vector<unsigned>(int, int)>& samples,
                const std::string& chunks = "") {
    std::string rows;
    for (int y = 0; y < kSide; ++y) {
        rows += '\0';
        for (int x = 0; x < kSide; ++x) {
            for (const unsigned value : samples(x, y)) {
                if (depth == 16) {
                    rows += static_cast<char>(value >> 8);
                }
                rows += static_cast<char>(value & 0xFF);
            }
        }
    }
    return MakePng(kSide, kSide, depth, colourType, rows, chunks);
}

unsigned Level(int x, int y, int c) { return static_cast<unsigned>((x * 11 + y * 7 + c * 60) & 0xFF); }

// Writes a kSide x kSide float picture through the library (FIT_RGBF),
// whose samples are `value(x, y, channel)`.
void SaveFloats(const std::string& path, FREE_IMAGE_FORMAT format,
                const std::function<float(int, int, int)>& value) {
    FIBITMAP* bitmap = FreeImage_AllocateT(FIT_RGBF, kSide, kSide);
    for (int y = 0; y < kSide; ++y) {
        auto* line = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(bitmap, kSide - 1 - y));
        for (int x = 0; x < kSide; ++x) {
            line[x].red = value(x, y, 0);
            line[x].green = value(x, y, 1);
            line[x].blue = value(x, y, 2);
        }
    }
    ASSERT_TRUE(FreeImage_Save(format, bitmap, path.c_str(), 0)) << path;
    FreeImage_Unload(bitmap);
}

float NextUp(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    ++bits;
    std::memcpy(&value, &bits, sizeof bits);
    return value;
}

TEST_F(DeepSamples, AlphaOnlyDifferencesCountUnlessAlphaIsIgnored) {
    const auto rgba = [](unsigned blockAlpha) {
        return [blockAlpha](int x, int y) {
            return std::vector<unsigned>{Level(x, y, 0), Level(x, y, 1), Level(x, y, 2),
                                         InBlock(x, y) ? blockAlpha : 200u};
        };
    };
    const auto greyAlpha = [](unsigned blockAlpha) {
        return [blockAlpha](int x, int y) {
            return std::vector<unsigned>{Level(x, y, 0), InBlock(x, y) ? blockAlpha : 255u};
        };
    };
    // Index 0 inside the block, 1 outside; only entry 0's alpha changes.
    const auto indices = [](int x, int y) { return std::vector<unsigned>{InBlock(x, y) ? 0u : 1u}; };
    const std::string palette = PngChunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60", 6));
    WriteFileBytes(Path("rgba-a.png"), Png(6, 8, rgba(200)));
    WriteFileBytes(Path("rgba-b.png"), Png(6, 8, rgba(90)));
    WriteFileBytes(Path("ga-a.png"), Png(4, 8, greyAlpha(255)));
    WriteFileBytes(Path("ga-b.png"), Png(4, 8, greyAlpha(0)));
    WriteFileBytes(Path("pal-a.png"), Png(3, 8, indices, palette + PngChunk("tRNS", "\x80")));
    WriteFileBytes(Path("pal-b.png"), Png(3, 8, indices, palette + PngChunk("tRNS", "\x40")));
    for (const char* kind : {"rgba", "ga", "pal"}) {
        const std::string a = Path(std::string(kind) + "-a.png");
        const std::string b = Path(std::string(kind) + "-b.png");
        const ProcessResult json = Run({a, b, "--json"});
        EXPECT_EQ(json.exitStatus, 1) << kind;
        EXPECT_NE(json.output.find("\"differingPixels\":100,\"share\":0.25,"
                                   "\"box\":{\"x\":5,\"y\":5,\"width\":10,\"height\":10}"),
                  std::string::npos)
            << json.output;
        EXPECT_NE(json.output.find("\"samples\":\"8-bit\",\"alpha\":true"), std::string::npos) << json.output;
        EXPECT_EQ(Normalised(Run({a, b, "-v"}).output),
                  "Load source images took T ms\nImages differ\nPerform diff took T ms\n");
        const ProcessResult ignored = Run({a, b, "--ignore-alpha", "--json"});
        EXPECT_EQ(ignored.exitStatus, 0) << kind;
        EXPECT_NE(ignored.output.find("\"alpha\":false"), std::string::npos) << ignored.output;
    }
}

TEST_F(DeepSamples, OpaqueAlphaEqualsTheSameColoursWithoutAlpha) {
    WriteFileBytes(Path("rgba.png"), Png(6, 8, [](int x, int y) {
        return std::vector<unsigned>{Level(x, y, 0), Level(x, y, 1), Level(x, y, 2), 255};
    }));
    WriteFileBytes(Path("rgb.png"), Png(2, 8, [](int x, int y) {
        return std::vector<unsigned>{Level(x, y, 0), Level(x, y, 1), Level(x, y, 2)};
    }));
    Pixels24 same = BlackPixels(kSide, kSide);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            for (int c = 0; c < 3; ++c) {
                same.At(x, y)[2 - c] = static_cast<std::uint8_t>(Level(x, y, c));
            }
        }
    }
    WriteRawBmp24(Path("rgb.bmp"), same);
    const ProcessResult json = Run({Path("rgba.png"), Path("rgb.png"), "--json"});
    EXPECT_EQ(json.exitStatus, 0) << json.output;
    EXPECT_NE(json.output.find("\"samples\":\"8-bit\",\"alpha\":true"), std::string::npos) << json.output;
    EXPECT_EQ(Run({Path("rgba.png"), Path("rgb.bmp")}).exitStatus, 0);
}

TEST_F(DeepSamples, SixteenBitSamplesCountWholeAgainstSixteenBits) {
    // Every 16-bit sample v * 257 + 3, the widening of an 8-bit one plus a
    // little; the changed file adds 1 to one low byte of one pixel.
    const auto deep = [](int channels, int changedChannel) {
        return [channels, changedChannel](int x, int y) {
            std::vector<unsigned> samples;
            for (int c = 0; c < channels; ++c) {
                const unsigned value = Level(x, y, c) * 257 / 2 + 3;
                samples.push_back(value + (x == 7 && y == 9 && c == changedChannel ? 1 : 0));
            }
            return samples;
        };
    };
    const struct {
        const char* name;
        int colourType;
        int channels;
    } kinds[] = {{"rgb", 2, 3}, {"grey", 0, 1}, {"grey-alpha", 4, 2}, {"rgba", 6, 4}};
    for (const auto& kind : kinds) {
        const std::string a = Path(std::string(kind.name) + ".png");
        const std::string b = Path(std::string(kind.name) + "-low.png");
        WriteFileBytes(a, Png(kind.colourType, 16, deep(kind.channels, -1)));
        // The last channel: alpha where there is one.
        WriteFileBytes(b, Png(kind.colourType, 16, deep(kind.channels, kind.channels - 1)));
        const ProcessResult json = Run({a, b, "--json"});
        EXPECT_EQ(json.exitStatus, 1) << kind.name;
        EXPECT_NE(json.output.find("\"differingPixels\":1,"), std::string::npos) << json.output;
        EXPECT_NE(json.output.find("\"largestDelta\":1,\"samples\":\"16-bit\""), std::string::npos)
            << json.output;
        EXPECT_EQ(Run({a, b, "--ignore-alpha"}).exitStatus, 0) << kind.name;
    }

    // An 8-bit picture and its 16-bit widening (v * 257) are identical.
    const auto eight = [](int x, int y) { return std::vector<unsigned>{Level(x, y, 0), Level(x, y, 1), Level(x, y, 2)}; };
    const auto widened = [](int x, int y) {
        return std::vector<unsigned>{Level(x, y, 0) * 257, Level(x, y, 1) * 257, Level(x, y, 2) * 257};
    };
    WriteFileBytes(Path("eight.png"), Png(2, 8, eight));
    WriteFileBytes(Path("widened.png"), Png(2, 16, widened));
    const ProcessResult json = Run({Path("eight.png"), Path("widened.png"), "--json"});
    EXPECT_EQ(json.exitStatus, 0) << json.output;
    EXPECT_NE(json.output.find("\"samples\":\"8-bit\""), std::string::npos) << json.output;
}

TEST_F(DeepSamples, FloatSamplesCompareBitForBit) {
    GLIMRA_TEST_NEEDS("picture-library");
    const auto ramp = [](int x, int y, int c) { return static_cast<float>(x * 3 + y + c) / 37.0f - 0.25f; };
    SaveFloats(Path("f.tif"), FIF_TIFF, ramp);
    SaveFloats(Path("f.pfm"), FIF_PFM, ramp);
    SaveFloats(Path("ulp.pfm"), FIF_PFM, [&ramp](int x, int y, int c) {
        return x == 3 && y == 4 && c == 1 ? NextUp(ramp(x, y, c)) : ramp(x, y, c);
    });
    SaveFloats(Path("zero.pfm"), FIF_PFM, [](int, int, int) { return 0.0f; });
    SaveFloats(Path("minus-zero.pfm"), FIF_PFM, [](int x, int, int) { return x == 0 ? -0.0f : 0.0f; });
    WriteFileBytes(Path("eight.png"), Png(2, 8, [](int x, int y) {
        return std::vector<unsigned>{Level(x, y, 0), Level(x, y, 1), Level(x, y, 2)};
    }));

    const ProcessResult same = Run({Path("f.tif"), Path("f.pfm"), "--json"});
    EXPECT_EQ(same.exitStatus, 0) << same.output;
    EXPECT_NE(same.output.find("\"samples\":\"float\",\"alpha\":false"), std::string::npos) << same.output;
    const ProcessResult ulp = Run({Path("f.pfm"), Path("ulp.pfm"), "--json"});
    EXPECT_EQ(ulp.exitStatus, 1);
    EXPECT_NE(ulp.output.find("\"differingPixels\":1,"), std::string::npos) << ulp.output;
    // One ulp is far below an 8-bit level: its pixel is still not black.
    EXPECT_NE(ulp.output.find("\"largestDelta\":1,"), std::string::npos) << ulp.output;
    const ProcessResult zeros = Run({Path("zero.pfm"), Path("minus-zero.pfm"), "--json"});
    EXPECT_EQ(zeros.exitStatus, 1);
    EXPECT_NE(zeros.output.find("\"differingPixels\":20,"), std::string::npos) << zeros.output;

    const ProcessResult mixed = Run({Path("f.pfm"), Path("eight.png"), "-v"});
    EXPECT_EQ(mixed.exitStatus, 1);
    EXPECT_EQ(Normalised(mixed.output), "Load source images took T ms\nCan't compare float samples in " +
                                            Path("f.pfm") + " with 8-bit samples in " + Path("eight.png") +
                                            "\n");
}

TEST_F(DeepSamples, DifferencePictureShowsAlphaOnlyPixels) {
    const auto rgba = [](unsigned blockAlpha) {
        return [blockAlpha](int x, int y) {
            return std::vector<unsigned>{Level(x, y, 0), Level(x, y, 1), Level(x, y, 2),
                                         InBlock(x, y) ? blockAlpha : 255u};
        };
    };
    WriteFileBytes(Path("a.png"), Png(6, 8, rgba(255)));
    WriteFileBytes(Path("b.png"), Png(6, 8, rgba(100)));
    for (const char* mode : {"-d", "-x", "--highlight"}) {
        const std::string output = Path(std::string("diff") + mode + ".png");
        ASSERT_EQ(Run({Path("a.png"), Path("b.png"), output, mode}).exitStatus, 1) << mode;
        Pixels24 diff = ReadPicture(output);
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                const std::uint8_t* pixel = diff.At(x, y);
                if (std::string(mode) == "--highlight") {
                    // Red where they differ, never red elsewhere.
                    EXPECT_EQ(pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 255, InBlock(x, y)) << x << "," << y;
                } else {
                    const std::uint8_t expected = InBlock(x, y) ? 155 : 0;
                    EXPECT_TRUE(pixel[0] == expected && pixel[1] == expected && pixel[2] == expected)
                        << mode << " " << x << "," << y;
                }
            }
        }
    }
    // No difference picture where only alpha is asked to be ignored.
    EXPECT_EQ(Run({Path("a.png"), Path("b.png"), Path("none.png"), "--ignore-alpha"}).exitStatus, 0);
    EXPECT_FALSE(FileExists(Path("none.png")));
}

// A 32-bit BMP with a V5 header whose bit fields give an alpha mask.
std::string BmpV5WithAlpha(int width, int height, std::uint8_t alpha) {
    std::string file = "BM";
    const std::uint32_t offset = 14 + 124;
    PutLittleEndian(file, offset + static_cast<std::uint32_t>(width * height * 4), 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, offset, 4);
    PutLittleEndian(file, 124, 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(width), 4);
    PutLittleEndian(file, static_cast<std::uint32_t>(height), 4);
    PutLittleEndian(file, 1, 2);
    PutLittleEndian(file, 32, 2);
    PutLittleEndian(file, 3, 4);  // bit fields
    PutLittleEndian(file, static_cast<std::uint32_t>(width * height * 4), 4);
    PutLittleEndian(file, 2835, 4);
    PutLittleEndian(file, 2835, 4);
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 0, 4);
    for (const std::uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) {
        PutLittleEndian(file, mask, 4);
    }
    file.resize(offset, '\0');
    for (int i = 0; i < width * height; ++i) {
        file += std::string{'\x30', '\x40', '\x50', static_cast<char>(alpha)};
    }
    return file;
}

TEST_F(DeepSamples, EachFormatsAlphaIsWhatTheFormatStores) {
    GLIMRA_TEST_NEEDS("picture-library");
    const auto colour = [](std::uint32_t alpha) {
        return [alpha](int x, int y) { return alpha << 24 | static_cast<std::uint32_t>(x * 9 << 16 | y * 5 << 8 | 7); };
    };
    // TGA, TIFF and PNG store alpha in their 32-bit pictures; a BMP with a
    // plain header holds padding there.
    for (const char* extension : {".tga", ".tif", ".png", ".bmp"}) {
        SaveDepthPicture(Path(std::string("opaque") + extension), 8, 8, 32, false, colour(0xFF));
        SaveDepthPicture(Path(std::string("clear") + extension), 8, 8, 32, false, colour(0x40));
        const bool alphaCounts = std::string(extension) != ".bmp";
        EXPECT_EQ(Run({Path(std::string("opaque") + extension), Path(std::string("clear") + extension)}).exitStatus,
                  alphaCounts ? 1 : 0)
            << extension;
    }
    // A BMP whose header gives an alpha mask stores alpha.
    WriteFileBytes(Path("opaque-v5.bmp"), BmpV5WithAlpha(4, 4, 0xFF));
    WriteFileBytes(Path("clear-v5.bmp"), BmpV5WithAlpha(4, 4, 0x40));
    EXPECT_EQ(Run({Path("opaque-v5.bmp"), Path("clear-v5.bmp")}).exitStatus, 1);

    // A GIF's transparent index makes its pixels transparent.
    FIBITMAP* indexed = FreeImage_Allocate(4, 4, 8);
    RGBQUAD* palette = FreeImage_GetPalette(indexed);
    palette[0] = RGBQUAD{10, 20, 30, 0};
    palette[1] = RGBQUAD{40, 50, 60, 0};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            FreeImage_GetScanLine(indexed, y)[x] = static_cast<BYTE>(x == y ? 1 : 0);
        }
    }
    ASSERT_TRUE(FreeImage_Save(FIF_GIF, indexed, Path("opaque.gif").c_str(), 0));
    FreeImage_SetTransparentIndex(indexed, 1);
    ASSERT_TRUE(FreeImage_Save(FIF_GIF, indexed, Path("clear.gif").c_str(), 0));
    FreeImage_Unload(indexed);
    const ProcessResult gif = Run({Path("opaque.gif"), Path("clear.gif"), "--json"});
    EXPECT_EQ(gif.exitStatus, 1) << gif.output;
    EXPECT_NE(gif.output.find("\"differingPixels\":4,"), std::string::npos) << gif.output;
}

}  // namespace

namespace {

// Grey samples of `depth` bits, packed from the high bits down, each row
// unfiltered; the sample of pixel (x, y) is (x + 3y) % levels.
std::string PackedGreyRows(int width, int height, int depth) {
    const int levels = 1 << depth;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * depth + 7) / 8;
    std::string raw(rowBytes * height, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int bit = x * depth;
            char& byte = raw[y * rowBytes + bit / 8];
            byte = static_cast<char>(byte | ((x + 3 * y) % levels) << (8 - depth - bit % 8));
        }
    }
    return raw;
}

}  // namespace

// A grey colour key is a sample at the picture's own depth, whatever the
// depth and whether the file is interlaced: the pixels holding it are
// transparent, the others opaque.
TEST_F(DeepSamples, AGreyColourKeyBelowEightBitsIsASampleAtItsOwnDepth) {
    const int width = 16;
    const int height = 9;
    for (const int depth : {1, 2, 4}) {
        SCOPED_TRACE(depth);
        const std::string raw = PackedGreyRows(width, height, depth);
        const std::size_t rowBytes = (static_cast<std::size_t>(width) * depth + 7) / 8;
        const auto none = [](std::size_t) { return 0; };
        const std::string key = PngChunk("tRNS", std::string("\0\x01", 2));
        WriteFileBytes(Path("plain.png"), MakePng(width, height, depth, 0, FilterRows(raw, rowBytes, 1, none)));
        WriteFileBytes(Path("keyed.png"), MakePng(width, height, depth, 0, FilterRows(raw, rowBytes, 1, none), key));
        WriteFileBytes(Path("keyed-interlaced.png"),
                       MakePng(width, height, depth, 0, Adam7Scanlines(raw, width, height, depth, none), key, 1));
        int keyed = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                keyed += (x + 3 * y) % (1 << depth) == 1;
            }
        }
        EXPECT_EQ(Run({Path("keyed.png"), Path("keyed-interlaced.png")}).exitStatus, 0);
        const ProcessResult json = Run({"--json", Path("plain.png"), Path("keyed.png")});
        EXPECT_NE(json.output.find("\"differingPixels\":" + std::to_string(keyed) + ","), std::string::npos)
            << json.output;
        EXPECT_EQ(Run({"--ignore-alpha", Path("plain.png"), Path("keyed.png")}).exitStatus, 0);
    }
}
