// What the comparison sees of a file is the 24-bit form of its first
// picture, made of the samples the file stores: these pin down the parts of
// it that a user could expect otherwise.
#include "support/e2e_fixture.h"
#include "support/png_files.h"

#include <FreeImage.h>

#include <cstring>
#include <functional>

namespace {

using ComparedForm = EndToEnd;

// A 40 x 30 picture whose channel values are `value(x, y, channel)`.
Pixels24 Made(const std::function<std::uint8_t(int, int, int)>& value) {
    Pixels24 pixels = BlackPixels(40, 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            for (int c = 0; c < 3; ++c) {
                pixels.At(x, y)[c] = value(x, y, c);
            }
        }
    }
    return pixels;
}

FIBITMAP* Bitmap24(const Pixels24& pixels) {
    FIBITMAP* bitmap = FreeImage_Allocate(pixels.width, pixels.height, 24);
    for (int y = 0; y < pixels.height; ++y) {
        std::memcpy(FreeImage_GetScanLine(bitmap, pixels.height - 1 - y),
                    &pixels.bytes[static_cast<std::size_t>(y) * pixels.width * 3],
                    static_cast<std::size_t>(pixels.width) * 3);
    }
    return bitmap;
}

TEST_F(ComparedForm, SixteenBitChannelsAreReducedToTheirHighByte) {
    GLIMRA_TEST_NEEDS("picture-library");
    const auto high = [](int x, int y, int c) { return static_cast<std::uint8_t>(x * 6 + y * 3 + c * 80); };
    FIBITMAP* wide = FreeImage_AllocateT(FIT_RGB16, 40, 30);
    for (int y = 0; y < 30; ++y) {
        auto* line = reinterpret_cast<FIRGB16*>(FreeImage_GetScanLine(wide, 29 - y));
        for (int x = 0; x < 40; ++x) {
            // The low bytes carry noise that the 24-bit form must not see.
            const auto channel = [&](int c) {
                return static_cast<WORD>(high(x, y, c) << 8 | ((x * 37 + y * 11 + c) & 0xFF));
            };
            line[x].blue = channel(0);
            line[x].green = channel(1);
            line[x].red = channel(2);
        }
    }
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, wide, Path("wide.png").c_str(), 0));
    ASSERT_TRUE(FreeImage_Save(FIF_TIFF, wide, Path("wide.tif").c_str(), 0));
    FreeImage_Unload(wide);
    WriteRawBmp24(Path("narrow.bmp"), Made(high));

    for (const char* name : {"wide.png", "wide.tif"}) {
        const ProcessResult result = Run({Path(name), Path("narrow.bmp")});
        EXPECT_EQ(result.exitStatus, 0) << name << ": " << result.output;
    }
}

TEST_F(ComparedForm, MultiPageFilesCompareTheirFirstPage) {
    GLIMRA_TEST_NEEDS("picture-library");
    const Pixels24 first = PatternPixels(40, 30, 1);
    const Pixels24 second = PatternPixels(40, 30, 2);
    WriteRawBmp24(Path("first.bmp"), first);
    WriteRawBmp24(Path("second.bmp"), second);
    FIMULTIBITMAP* pages =
        FreeImage_OpenMultiBitmap(FIF_TIFF, Path("pages.tif").c_str(), TRUE, FALSE, FALSE, 0);
    ASSERT_NE(pages, nullptr);
    for (const Pixels24* page : {&first, &second}) {
        FIBITMAP* bitmap = Bitmap24(*page);
        FreeImage_AppendPage(pages, bitmap);
        FreeImage_Unload(bitmap);
    }
    ASSERT_TRUE(FreeImage_CloseMultiBitmap(pages, 0));

    EXPECT_EQ(Run({Path("pages.tif"), Path("first.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("pages.tif"), Path("second.bmp")}).exitStatus, 1);
}

TEST_F(ComparedForm, ExifOrientationIsNotApplied) {
    // A JPEG with an Exif block saying "rotate 90 degrees" (orientation 6)
    // is compared as stored: a rotated 40 x 30 picture would be 30 x 40.
    SavePicture(Path("plain.jpg"), PatternPixels(40, 30, 4));
    const std::string plain = ReadFileBytes(Path("plain.jpg"));
    const std::string tiff("II*\0\x08\0\0\0"          // little-endian, first IFD at 8
                           "\x01\0"                   // one entry
                           "\x12\x01\x03\0\x01\0\0\0\x06\0\0\0"  // Orientation, SHORT, 1, 6
                           "\0\0\0\0",                // no next IFD
                           26);
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    const std::size_t length = body.size() + 2;
    const std::string app1 = std::string("\xff\xe1", 2) + static_cast<char>(length >> 8) +
                             static_cast<char>(length & 0xFF) + body;
    WriteFileBytes(Path("rotated.jpg"), plain.substr(0, 2) + app1 + plain.substr(2));

    // The library does read the orientation from the file...
    FIBITMAP* loaded = FreeImage_Load(FIF_JPEG, Path("rotated.jpg").c_str(), 0);
    ASSERT_NE(loaded, nullptr);
    FITAG* tag = nullptr;
    ASSERT_TRUE(FreeImage_GetMetadata(FIMD_EXIF_MAIN, loaded, "Orientation", &tag));
    EXPECT_EQ(*static_cast<const WORD*>(FreeImage_GetTagValue(tag)), 6);
    FreeImage_Unload(loaded);
    // ...but the comparison sees the pixels as stored.
    const ProcessResult result = Run({Path("rotated.jpg"), Path("plain.jpg"), "-v"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\nImages are identical\nPerform diff took T ms\n");
}

TEST_F(ComparedForm, PngSamplesAreComparedAsStoredWhateverTheirGamma) {
    // With gAMA 1.0 a gamma correction for the screen merges levels 254
    // and 255; the stored samples keep them apart.
    const std::string gamma1 = PngChunk("gAMA", std::string("\x00\x01\x86\xa0", 4));
    const auto greyPixel = [&](char level) {
        return MakePng(1, 1, 8, 0, std::string("\0", 1) + level, gamma1);
    };
    WriteFileBytes(Path("254.png"), greyPixel('\xfe'));
    WriteFileBytes(Path("255.png"), greyPixel('\xff'));
    EXPECT_EQ(Run({Path("254.png"), Path("255.png")}).exitStatus, 1);

    Pixels24 stored = BlackPixels(1, 1);
    stored.bytes = {254, 254, 254};
    WriteRawBmp24(Path("254.bmp"), stored);
    EXPECT_EQ(Run({Path("254.png"), Path("254.bmp")}).exitStatus, 0);
}

TEST_F(ComparedForm, JpegIsDecodedAccurately) {
    // Other decoders (browsers, libjpeg-turbo's defaults) use the exact
    // inverse DCT and smooth chroma upsampling; so does the comparison, and
    // the library's fast approximation gives other pixels.
    SavePicture(Path("photo.jpg"), PatternPixels(48, 32, 5));
    WriteRawBmp24(Path("accurate.bmp"), ReadPicture(Path("photo.jpg"), JPEG_ACCURATE));
    WriteRawBmp24(Path("fast.bmp"), ReadPicture(Path("photo.jpg"), JPEG_FAST));
    ASSERT_NE(ReadFileBytes(Path("accurate.bmp")), ReadFileBytes(Path("fast.bmp")));
    EXPECT_EQ(Run({Path("photo.jpg"), Path("accurate.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("photo.jpg"), Path("fast.bmp")}).exitStatus, 1);
}

TEST_F(ComparedForm, SixteenBitGreyCountsWholeAgainstSixteenBits) {
    const auto save = [&](const std::string& name, int changedX, WORD change) {
        FIBITMAP* grey = FreeImage_AllocateT(FIT_UINT16, 40, 30);
        for (int y = 0; y < 30; ++y) {
            auto* line = reinterpret_cast<WORD*>(FreeImage_GetScanLine(grey, 29 - y));
            for (int x = 0; x < 40; ++x) {
                line[x] = static_cast<WORD>((x * 6 + y * 3) << 8 | ((x * 37 + y) & 0xFF));
                if (x == changedX && y == 7) {
                    line[x] ^= change;
                }
            }
        }
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, grey, Path(name).c_str(), 0));
        FreeImage_Unload(grey);
    };
    save("grey16.png", -1, 0);
    save("high-differs.png", 11, 0x0100);
    save("low-differs.png", 11, 0x0001);
    Pixels24 high = BlackPixels(40, 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            std::memset(high.At(x, y), (x * 6 + y * 3) & 0xFF, 3);
        }
    }
    WriteRawBmp24(Path("high.bmp"), high);

    const ProcessResult itself = Run({Path("grey16.png"), Path("grey16.png"), "-v"});
    EXPECT_EQ(itself.exitStatus, 0);
    EXPECT_EQ(Normalised(itself.output),
              "Load source images took T ms\nImages are identical\nPerform diff took T ms\n");
    // Against an 8-bit picture its high bytes decide; against a 16-bit one
    // all sixteen bits, unless the 24-bit forms alone are asked for.
    EXPECT_EQ(Run({Path("grey16.png"), Path("high.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("grey16.png"), Path("high-differs.png")}).exitStatus, 1);
    EXPECT_EQ(Run({Path("grey16.png"), Path("low-differs.png")}).exitStatus, 1);
    EXPECT_EQ(Run({Path("grey16.png"), Path("low-differs.png"), "--ignore-alpha"}).exitStatus, 0);
}

// A 2 x 1 RGB TIFF whose first directory holds a tag libtiff does not
// know (0x829a, an Exif exposure time), as camera files do.
std::string TiffWithUnknownTag() {
    std::string file("II*\0", 4);
    PutLittleEndian(file, 8, 4);
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type;
        std::uint32_t value;
    };
    const std::uint32_t dataAt = 8 + 2 + 11 * 12 + 4;
    const Entry entries[] = {
        {256, 3, 2}, {257, 3, 1}, {258, 3, dataAt}, {259, 3, 1}, {262, 3, 2},
        {273, 4, dataAt + 14}, {277, 3, 3}, {278, 3, 1}, {279, 4, 6}, {284, 3, 1},
        {0x829a, 5, dataAt + 6}};
    PutLittleEndian(file, 11, 2);
    for (const Entry& entry : entries) {
        PutLittleEndian(file, entry.tag, 2);
        PutLittleEndian(file, entry.type, 2);
        PutLittleEndian(file, entry.tag == 258 ? 3 : 1, 4);
        PutLittleEndian(file, entry.value, 4);
    }
    PutLittleEndian(file, 0, 4);  // no further directory
    for (int i = 0; i < 3; ++i) {
        PutLittleEndian(file, 8, 2);  // bits per sample
    }
    PutLittleEndian(file, 1, 4);  // 1/100 s
    PutLittleEndian(file, 100, 4);
    return file + std::string("\x0a\x14\x1e\x28\x32\x3c", 6);
}

TEST_F(ComparedForm, LibraryWarningsStayOffStandardError) {
    GLIMRA_TEST_NEEDS("picture-library");
    WriteFileBytes(Path("camera.tif"), TiffWithUnknownTag());
    const ProcessResult result = Run({Path("camera.tif"), Path("camera.tif"), "-v"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(result.errors, "");
}

}  // namespace
