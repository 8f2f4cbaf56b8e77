// What the comparison sees of a file is the library's 24-bit form of its
// first picture, as loaded with default flags: these pin down the parts of
// it that a user could expect otherwise.
#include "support/e2e_fixture.h"

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

}  // namespace
