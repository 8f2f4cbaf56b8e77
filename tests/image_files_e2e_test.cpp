// What is compared is the decoded 24-bit form, whatever the file format,
// depth or name; what is written keeps orientation and channel order.
#include "support/e2e_fixture.h"

#include <cstdlib>
#include <filesystem>

namespace {

using ImageFiles = EndToEnd;

TEST_F(ImageFiles, SamePixelsInAnyFileFormCompareIdentical) {
    GLIMRA_TEST_NEEDS("picture-library");
    const Pixels24 pixels = PatternPixels(37, 23);  // rows not a multiple of 4 bytes
    SavePicture(Path("p.png"), pixels);
    SavePicture(Path("p.bmp"), pixels);
    SavePicture(Path("p.tif"), pixels);
    SavePicture(Path("p.ppm"), pixels);
    SavePicture(Path("p.tga"), pixels);
    WriteRawBmp24(Path("raw.bmp"), pixels);
    WriteRawBmp24(Path("raw-top-down.bmp"), pixels, true);
    // Reading goes by content: a PNG named .bmp is still a PNG.
    WriteFileBytes(Path("png-named.bmp"), ReadFileBytes(Path("p.png")));

    for (const char* other : {"p.bmp", "p.tif", "p.ppm", "p.tga", "raw.bmp",
                              "raw-top-down.bmp", "png-named.bmp"}) {
        const ProcessResult result = Run({Path("p.png"), Path(other), "-v"});
        EXPECT_EQ(result.exitStatus, 0) << other;
        EXPECT_NE(result.output.find("Images are identical\n"), std::string::npos) << other;
    }
}

TEST_F(ImageFiles, EveryByteCountsIncludingTheLast) {
    const Pixels24 pixels = PatternPixels(7, 3);
    WriteRawBmp24(Path("a.bmp"), pixels);
    for (std::size_t at : {std::size_t{0}, pixels.bytes.size() / 2, pixels.bytes.size() - 1}) {
        Pixels24 changed = pixels;
        changed.bytes[at] ^= 1;
        WriteRawBmp24(Path("b.bmp"), changed);
        EXPECT_EQ(Run({Path("a.bmp"), Path("b.bmp")}).exitStatus, 1) << "byte " << at;
    }
}

TEST_F(ImageFiles, DifferencePictureKeepsOrientationAndChannels) {
    GLIMRA_TEST_NEEDS("picture-library");
    // Against black, the absolute difference is the picture itself: a
    // mirrored or channel-swapped output cannot pass for it.
    const Pixels24 pixels = PatternPixels(13, 6);
    WriteRawBmp24(Path("a.bmp"), pixels);
    WriteRawBmp24(Path("black.bmp"), BlackPixels(13, 6));

    for (const char* output : {"d.png", "d.bmp", "d.tif"}) {
        ASSERT_EQ(Run({Path("a.bmp"), Path("black.bmp"), Path(output)}).exitStatus, 1);
        const Pixels24 written = ReadPicture(Path(output));
        EXPECT_EQ(written.width, 13) << output;
        EXPECT_EQ(written.height, 6) << output;
        EXPECT_EQ(written.bytes, pixels.bytes) << output;
    }

    // The BMP is read here byte by byte, not through the picture library:
    // bottom-up rows, padded to 4 bytes, blue-green-red.
    const std::string file = ReadFileBytes(Path("d.bmp"));
    const std::size_t offset = static_cast<unsigned char>(file[10]);
    const std::size_t stride = (13 * 3 + 3) & ~std::size_t{3};
    ASSERT_GE(file.size(), offset + stride * 6);
    for (int y = 0; y < 6; ++y) {
        const std::string row = file.substr(offset + stride * (5 - y), 13 * 3);
        EXPECT_EQ(row, std::string(reinterpret_cast<const char*>(&pixels.bytes[y * 13 * 3]), 13 * 3))
            << "row " << y;
    }
}

TEST_F(ImageFiles, OtherDepthsCompareInTheir24BitForm) {
    GLIMRA_TEST_NEEDS("picture-library");
    const auto value = [](int x, int y) { return static_cast<std::uint32_t>((x * 31 + y * 17) & 0xFF); };
    SaveDepthPicture(Path("grey.png"), 20, 9, 8, false, value);
    SaveDepthPicture(Path("palette.bmp"), 20, 9, 8, true, value);
    Pixels24 grey = BlackPixels(20, 9);
    Pixels24 coloured = BlackPixels(20, 9);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 20; ++x) {
            const std::uint32_t i = value(x, y);
            grey.At(x, y)[0] = grey.At(x, y)[1] = grey.At(x, y)[2] = static_cast<std::uint8_t>(i);
            coloured.At(x, y)[0] = static_cast<std::uint8_t>((i * 7) & 0xFF);  // blue
            coloured.At(x, y)[1] = static_cast<std::uint8_t>(255 - i);          // green
            coloured.At(x, y)[2] = static_cast<std::uint8_t>(i);                // red
        }
    }
    WriteRawBmp24(Path("grey24.bmp"), grey);
    WriteRawBmp24(Path("coloured24.bmp"), coloured);
    EXPECT_EQ(Run({Path("grey.png"), Path("grey24.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("palette.bmp"), Path("coloured24.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("palette.bmp"), Path("grey24.bmp")}).exitStatus, 1);

    // Pictures that differ only in alpha differ, unless the 24-bit forms
    // alone are asked for.
    const auto rgba = [](std::uint32_t alpha) {
        return [alpha](int x, int y) {
            return (alpha << 24) | static_cast<std::uint32_t>((x * 5) << 16 | (y * 9) << 8 | (x ^ y));
        };
    };
    SaveDepthPicture(Path("opaque.png"), 16, 4, 32, false, rgba(0xFF));
    SaveDepthPicture(Path("clear.png"), 16, 4, 32, false, rgba(0x10));
    EXPECT_EQ(Run({Path("opaque.png"), Path("clear.png")}).exitStatus, 1);
    EXPECT_EQ(Run({Path("opaque.png"), Path("clear.png"), "--ignore-alpha"}).exitStatus, 0);

    // A 32-bit picture keeps its colour bytes in place, whatever the file
    // format and however wide the rows (13 pixels leave 3 bytes of row
    // padding in the 24-bit form). A 32-bit BMP without an alpha mask holds
    // padding in its fourth byte, not alpha.
    const auto colour = [](int x, int y) {
        return 0x80000000u | static_cast<std::uint32_t>((x * 19) << 16 | (y * 23) << 8 | (x * y + 7));
    };
    const auto opaque = [&colour](int x, int y) { return colour(x, y) | 0xFF000000u; };
    SaveDepthPicture(Path("rgba.png"), 13, 5, 32, false, opaque);
    SaveDepthPicture(Path("rgba.bmp"), 13, 5, 32, false, colour);
    Pixels24 same = BlackPixels(13, 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 13; ++x) {
            const std::uint32_t c = colour(x, y);
            same.At(x, y)[0] = static_cast<std::uint8_t>(c);
            same.At(x, y)[1] = static_cast<std::uint8_t>(c >> 8);
            same.At(x, y)[2] = static_cast<std::uint8_t>(c >> 16);
        }
    }
    WriteRawBmp24(Path("rgb.bmp"), same);
    same.At(12, 4)[2] ^= 1;
    WriteRawBmp24(Path("last-red-differs.bmp"), same);
    EXPECT_EQ(Run({Path("rgba.png"), Path("rgb.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("rgba.bmp"), Path("rgb.bmp")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("rgba.png"), Path("last-red-differs.bmp")}).exitStatus, 1);
}

TEST_F(ImageFiles, SaveFailuresAreReportedAndLeaveNoFile) {
    GLIMRA_TEST_NEEDS("picture-library");
    SavePicture(Path("a.png"), PatternPixels(10, 10, 1));
    SavePicture(Path("b.png"), PatternPixels(10, 10, 2));

    ProcessResult result = Run({Path("a.png"), Path("b.png"), Path("out.unknown")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Can't save to unknown filetype " + Path("out.unknown") + "\n\n");

    result = Run({Path("a.png"), Path("b.png"), Path("no-such-dir/out.png"), "-v"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\n"
              "Images differ\n"
              "Perform diff took T ms\n"
              "Failed to save " + Path("no-such-dir/out.png") + "\n"
              "Save diff image took T ms\n");

    // GIF holds palette pictures only: the library refuses a 24-bit one.
    result = Run({Path("a.png"), Path("b.png"), Path("out.gif")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Failed to save " + Path("out.gif") + "\n");

    for (const char* name : {"out.unknown", "out.gif"}) {
        EXPECT_FALSE(FileExists(Path(name))) << name;
    }
    EXPECT_TRUE(TempFilesIn(dir).empty()) << "a temporary file was left behind";
}

TEST_F(ImageFiles, PngAndBmpNeedNoPictureLibraryOtherFormatsSayTheyCannotLoadIt) {
    GLIMRA_TEST_NEEDS("picture-library");
    // The picture library hidden behind an empty file, in a mount namespace
    // of this run's own.
    const std::string library = std::filesystem::canonical("/usr/lib/x86_64-linux-gnu/libfreeimage.so.3");
    const auto runHidden = [&](const std::string& program, const std::vector<std::string>& args) {
        std::vector<std::string> command = {
            "--mount", "--propagation", "private", "sh", "-c",
            "mount --bind /dev/null " + library + " && exec \"$@\"", "sh", program};
        command.insert(command.end(), args.begin(), args.end());
        return RunProcess("/usr/bin/unshare", command);
    };
    if (runHidden("/bin/true", {}).exitStatus != 0) {
        GTEST_SKIP() << "no mount namespace here";
    }
    const Pixels24 pixels = PatternPixels(9, 4);
    SavePicture(Path("a.png"), pixels);
    WriteRawBmp24(Path("a.bmp"), pixels);
    SavePicture(Path("a.tif"), pixels);

    const std::string binary = std::getenv("GLIMRA_BINARY");
    ProcessResult result = runHidden(binary, {Path("a.png"), Path("a.bmp"), "-v"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\nImages are identical\nPerform diff took T ms\n");
    result = runHidden(binary, {Path("a.png"), Path("a.tif"), "-v"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Cannot load the picture library libfreeimage.so.3\nLoad source images took T ms\n");
}

}  // namespace

// One large pair's pictures are read on two threads where there are cores
// for it (--jobs=1: one after the other). Either way every answer and
// message is the same, whichever side fails.
TEST_F(ImageFiles, PicturesReadSideBySideGiveTheAnswersOfOneAfterTheOther) {
    GLIMRA_TEST_NEEDS("picture-library");
    // Noise does not compress: 400x300 makes files over 256 KB.
    SavePicture(Path("a.png"), PatternPixels(400, 300, 1));
    SavePicture(Path("b.png"), PatternPixels(400, 300, 2));
    const std::string b = ReadFileBytes(Path("b.png"));
    WriteFileBytes(Path("cut.png"), b.substr(0, b.size() - 1000));
    const std::vector<std::vector<std::string>> runs = {
        {Path("a.png"), Path("b.png"), Path("d.png")},
        {Path("a.png"), Path("cut.png")},
        {Path("cut.png"), Path("b.png")},
        {Path("a.png"), Path("b.png"), "--max-pixels=1000"},
        {Path("a.png"), Path("a.png")}};
    for (std::vector<std::string> args : runs) {
        args.push_back("-v");
        std::vector<std::string> one = args;
        one.push_back("--jobs=1");
        const ProcessResult together = Run(args);
        const ProcessResult apart = Run(one);
        EXPECT_EQ(together.exitStatus, apart.exitStatus) << args[1];
        EXPECT_EQ(Normalised(together.output), Normalised(apart.output)) << args[1];
    }
    EXPECT_NE(Normalised(Run({Path("cut.png"), Path("b.png")}).output).find("Failed to load " + Path("cut.png")),
              std::string::npos);
}
