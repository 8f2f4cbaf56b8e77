// Pairs are compared as streams of rows, a band at a time. Their oracle is
// the run of whole pictures (GLIMRA_WHOLE_PICTURES): the answers, counts,
// boxes and pictures written must be the same. The same pictures stored
// interlaced must answer alike too.
#include "support/e2e_fixture.h"

#include <FreeImage.h>

#include <filesystem>
#include <random>

#include "support/files.h"
#include "support/jpeg_files.h"
#include "support/png_files.h"

namespace {

struct Kind {
    const char* name;
    int depth;
    int colourType;
    int bytesPerPixel;
    std::string chunks;  // PLTE, tRNS
};

class StreamedPairs : public EndToEnd {
protected:
    // a.png, b.png (streamed) and their interlaced twins ia.png, ib.png
    // (whole pictures); b differs from a in its first row, across a band's
    // end, in its last row, and in bytes the 24-bit form does not hold.
    void MakePair(const Kind& kind, int width, int height) {
        std::mt19937 random(7);
        std::string a(static_cast<std::size_t>(width) * height * kind.bytesPerPixel, '\0');
        for (char& byte : a) {
            byte = static_cast<char>(kind.colourType == 3 ? random() % 4 : random() % 256);
        }
        std::string b = a;
        const std::size_t row = static_cast<std::size_t>(width) * kind.bytesPerPixel;
        for (const std::size_t at : {std::size_t{5}, 100 * row - 2, b.size() - 1, b.size() / 2 + 1}) {
            b[at] = static_cast<char>(kind.colourType == 3 ? (b[at] + 1) % 4 : b[at] ^ 1);
        }
        const auto rows0 = [](std::size_t y) { return static_cast<int>(y % 5); };
        const auto rows = [&](const std::string& raw) {
            return FilterRows(raw, row, kind.bytesPerPixel, [](std::size_t y) { return static_cast<int>(y % 5); });
        };
        WriteFileBytes(Path("a.png"), MakePng(width, height, kind.depth, kind.colourType, rows(a), kind.chunks, 0, 8192));
        WriteFileBytes(Path("b.png"), MakePng(width, height, kind.depth, kind.colourType, rows(b), kind.chunks));
        WriteFileBytes(Path("a2.png"), MakePng(width, height, kind.depth, kind.colourType,
                                               FilterRows(a, row, kind.bytesPerPixel, [](std::size_t) { return 0; }),
                                               kind.chunks));
        WriteFileBytes(Path("ia.png"), MakePng(width, height, kind.depth, kind.colourType,
                                               Adam7Scanlines(a, width, height, 8 * kind.bytesPerPixel, rows0), kind.chunks, 1));
        WriteFileBytes(Path("ib.png"), MakePng(width, height, kind.depth, kind.colourType,
                                               Adam7Scanlines(b, width, height, 8 * kind.bytesPerPixel, rows0), kind.chunks, 1));
    }

    // The answer and the report's four pictures of A against B with
    // `options`, streamed and as whole pictures, are the same.
    void ExpectReportAsWholePicturesGive(const std::string& a, const std::string& b,
                                         const std::vector<std::string>& options, const std::string& what) {
        std::filesystem::remove_all(Path("streamed"));
        std::filesystem::remove_all(Path("whole"));
        std::vector<std::string> streamed = options;
        streamed.push_back("--report=" + Path("streamed"));
        std::vector<std::string> whole = options;
        whole.push_back("--report=" + Path("whole"));
        ASSERT_EQ(Answer(a, b, streamed), Answer(a, b, whole, true)) << what;
        for (const char* picture : {"0-a.png", "0-b.png", "0-difference.png", "0-highlight.png"}) {
            const std::string inStream = Path("streamed/pictures/") + picture;
            ASSERT_EQ(FileExists(inStream), FileExists(Path("whole/pictures/") + picture)) << what << " " << picture;
            if (FileExists(inStream)) {
                EXPECT_EQ(ReadPicture(inStream).bytes, ReadPicture(Path("whole/pictures/") + picture).bytes)
                    << what << " " << picture;
            }
        }
    }
};

TEST_F(StreamedPairs, EveryKindAndOptionAnswersAsWholePicturesDo) {
    const std::string palette = PngChunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xB0\xC0", 12));
    const std::vector<Kind> kinds = {
        {"rgb", 8, 2, 3, ""},
        {"rgba", 8, 6, 4, ""},
        {"rgba16", 16, 6, 8, ""},
        {"grey-key", 8, 0, 1, PngChunk("tRNS", std::string("\0\x07", 2))},
        {"palette-alpha", 8, 3, 1, palette + PngChunk("tRNS", std::string("\xFF\x80", 2))},
    };
    const std::vector<std::vector<std::string>> optionSets = {
        {"--json"},
        {"--json", "--ignore-alpha"},
        {"--json", "--ignore=60x150+10+50", "--tolerance=1"},
        {"--json", "--max-differing=0.01%"},
        {"-v"},
    };
    for (const Kind& kind : kinds) {
        // 300 pixels a row: a band is 291 rows (72 on one thread), so
        // several bands, the last one short.
        MakePair(kind, 300, 700);
        for (const auto& options : optionSets) {
            const std::string streamed = Answer("a.png", "b.png", options);
            EXPECT_EQ(streamed, Answer("a.png", "b.png", options, true)) << kind.name;
            EXPECT_EQ(streamed, Answer("ia.png", "ib.png", options)) << kind.name << ", interlaced";
        }
        EXPECT_EQ(Answer("a.png", "a2.png", {"--json"}), Answer("a.png", "a2.png", {"--json"}, true)) << kind.name;
        for (const auto& mode : std::vector<std::vector<std::string>>{{"-d"}, {"-x"}, {"--highlight", "--ignore=30x400+7+9"}}) {
            std::remove(Path("d.png").c_str());
            std::vector<std::string> streamed = mode;
            streamed.push_back(Path("d.png"));
            std::vector<std::string> whole = mode;
            whole.push_back(Path("id.png"));
            ASSERT_EQ(Answer("a.png", "b.png", streamed), Answer("a.png", "b.png", whole, true)) << kind.name;
            EXPECT_EQ(ReadPicture(Path("d.png")).bytes, ReadPicture(Path("id.png")).bytes) << kind.name << " " << mode[0];
        }
    }
}

// Bands whose rows are stored alike are skipped only where the files turn
// them into the same rows: not where one file keys a colour transparent
// or picks other palette entries for the same indices. Streamed (large
// enough) and inflated at once, on one thread and on two.
TEST_F(StreamedPairs, RowsStoredAlikeDifferWhereTheFilesTurnThemApart) {
    const auto filtered = [](const std::string& raw, std::size_t row, std::size_t bpp) {
        return FilterRows(raw, row, bpp, [](std::size_t y) { return static_cast<int>(y % 5); });
    };
    for (const int height : {40, 1400}) {
        SCOPED_TRACE(height);
        const std::size_t width = 300;
        std::string rgb(width * height * 3, '\0');
        std::string indices(width * height, '\0');
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            rgb[i] = static_cast<char>(i * 7 % 251);
            indices[i / 3] = static_cast<char>(i % 4);
        }
        // The key is the colour of the last pixel only.
        const std::string key = {'\0', rgb[rgb.size() - 3], '\0', rgb[rgb.size() - 2], '\0', rgb[rgb.size() - 1]};
        const std::string rows = filtered(rgb, width * 3, 3);
        WriteFileBytes(Path("plain.png"), MakePng(width, height, 8, 2, rows));
        WriteFileBytes(Path("keyed.png"), MakePng(width, height, 8, 2, rows, PngChunk("tRNS", key)));
        const std::string paletteRows = filtered(indices, width, 1);
        const std::string palette = "\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xB0\xC0";
        WriteFileBytes(Path("p1.png"), MakePng(width, height, 8, 3, paletteRows, PngChunk("PLTE", palette)));
        std::string other = palette;
        other[11] = '\x00';
        WriteFileBytes(Path("p2.png"), MakePng(width, height, 8, 3, paletteRows, PngChunk("PLTE", other)));
        for (const auto& [a, b] : std::vector<std::pair<std::string, std::string>>{{"plain.png", "keyed.png"},
                                                                                   {"p1.png", "p2.png"}}) {
            for (const auto& options : std::vector<std::vector<std::string>>{{"--json"}, {"-v"}}) {
                const std::string streamed = Answer(a, b, options);
                EXPECT_EQ(streamed, Answer(a, b, options, true)) << a << " " << b;
                EXPECT_NE(streamed.find(options[0] == "-v" ? "Images differ" : "different"), std::string::npos)
                    << streamed;
            }
        }
    }
}

// BMP (bottom-up and top-down) and JPEG pairs are streamed too, and so are
// a pair of two formats and a file given twice.
TEST_F(StreamedPairs, BmpJpegAndMixedPairsAnswerAsWholePicturesDo) {
    const Pixels24 a = PatternPixels(300, 700, 3);
    Pixels24 b = a;
    b.At(0, 0)[0] ^= 1;
    b.At(150, 291)[2] ^= 9;
    b.At(299, 699)[1] ^= 200;
    WriteRawBmp24(Path("a.bmp"), a);
    WriteRawBmp24(Path("b.bmp"), b, true);
    SavePicture(Path("a.png"), a);
    WriteFileBytes(Path("a.jpg"), MakeJpeg(a, JpegSettings{}));
    JpegSettings progressive;
    progressive.progressive = true;
    WriteFileBytes(Path("b.jpg"), MakeJpeg(b, progressive));
    for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
             {"a.bmp", "b.bmp"}, {"a.jpg", "b.jpg"}, {"a.png", "b.bmp"}, {"a.bmp", "a.png"}, {"a.jpg", "b.bmp"},
             {"a.jpg", "a.jpg"}}) {
        SCOPED_TRACE(first + " " + second);
        for (const auto& options : std::vector<std::vector<std::string>>{{"--json"}, {"-v"}, {"--json", "--tolerance=3"}}) {
            EXPECT_EQ(Answer(first, second, options), Answer(first, second, options, true));
        }
        std::remove(Path("d.png").c_str());
        std::remove(Path("id.png").c_str());
        ASSERT_EQ(Answer(first, second, {Path("d.png")}), Answer(first, second, {Path("id.png")}, true));
        ASSERT_EQ(FileExists(Path("d.png")), FileExists(Path("id.png")));
        if (FileExists(Path("d.png"))) {
            EXPECT_EQ(ReadPicture(Path("d.png")).bytes, ReadPicture(Path("id.png")).bytes);
        }
    }
}

// A file the row reader finds damaged only after its last row is read by
// the library whole; the difference picture written meanwhile is emptied
// first, so that the file in place holds nothing of it.
TEST_F(StreamedPairs, AFileDamagedAfterItsRowsGoesToTheLibraryAndLeavesNoStaleBytes) {
    MakePair({"rgb", 8, 2, 3, ""}, 300, 700);
    std::string damaged = ReadFileBytes(Path("b.png"));
    std::string late = PngChunk("tEXt", std::string("Comment\0late", 12));
    late.back() = static_cast<char>(late.back() ^ 1);  // its CRC
    damaged.insert(damaged.size() - 12, late);
    WriteFileBytes(Path("b.png"), damaged);
    const ProcessResult result = Run({Path("a.png"), Path("b.png"), Path("d.png")});
    EXPECT_EQ(result.exitStatus, 1) << result.output;
    const std::string written = ReadFileBytes(Path("d.png"));
    if (!written.empty()) {
        EXPECT_EQ(written.find("IHDR"), written.rfind("IHDR")) << "a picture written twice";
        EXPECT_EQ(written.find("IEND") + 8, written.size()) << "bytes after the end of the difference picture";
    }
}

// A report's four pictures are written as the bands come, and are the
// pictures whole pictures give: for every kind, with a perceptual scope and
// with regions left out. A pair that differs only in its last row is read
// again from its start for them; a pair that agrees writes none.
TEST_F(StreamedPairs, ReportPicturesAreThoseOfWholePictures) {
    const std::string palette = PngChunk("PLTE", std::string("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0\xB0\xC0", 12));
    const std::vector<Kind> kinds = {
        {"rgb", 8, 2, 3, ""},
        {"rgba16", 16, 6, 8, ""},
        {"palette-alpha", 8, 3, 1, palette + PngChunk("tRNS", std::string("\xFF\x80", 2))},
    };
    for (const Kind& kind : kinds) {
        MakePair(kind, 300, 700);
        for (const auto& options : std::vector<std::vector<std::string>>{
                 {"--json"}, {"--json", "--threshold=0.1", "--antialiasing"}, {"--ignore=60x150+10+50", "-x"}}) {
            ExpectReportAsWholePicturesGive("a.png", "b.png", options, std::string(kind.name) + " " + options.back());
        }
    }
    Pixels24 last = PatternPixels(300, 700, 3);
    SavePicture(Path("c.png"), last);
    last.At(299, 699)[1] ^= 1;
    SavePicture(Path("d.png"), last);
    ExpectReportAsWholePicturesGive("c.png", "d.png", {"--json"}, "the last row");
    ExpectReportAsWholePicturesGive("c.png", "c.png", {"--json"}, "a file given twice");
    EXPECT_FALSE(FileExists(Path("streamed/pictures/0-a.png")));
    ExpectReportAsWholePicturesGive("a.png", "a2.png", {"--json"}, "the same pixels in other bytes");
    EXPECT_FALSE(FileExists(Path("streamed/pictures/0-a.png")));
}

// A picture the library reads comes as rows from its frame: TIFF against
// TIFF and against PNG, with alpha and with 16-bit samples, answers as
// whole pictures do, its difference picture and report included.
TEST_F(StreamedPairs, LibraryPicturesAnswerAsWholePicturesDo) {
    GLIMRA_TEST_NEEDS("picture-library");
    const auto toTiff = [&](const std::string& png, const std::string& tiff) {
        FIBITMAP* bitmap = FreeImage_Load(FIF_PNG, Path(png).c_str(), PNG_IGNOREGAMMA);
        ASSERT_NE(bitmap, nullptr) << png;
        ASSERT_TRUE(FreeImage_Save(FIF_TIFF, bitmap, Path(tiff).c_str(), 0)) << tiff;
        FreeImage_Unload(bitmap);
    };
    const std::vector<Kind> kinds = {{"rgb", 8, 2, 3, ""}, {"rgba", 8, 6, 4, ""}, {"rgba16", 16, 6, 8, ""}};
    for (const Kind& kind : kinds) {
        MakePair(kind, 300, 700);
        toTiff("a.png", "a.tif");
        toTiff("b.png", "b.tif");
        for (const auto& [first, second] :
             std::vector<std::pair<std::string, std::string>>{{"a.tif", "b.tif"}, {"a.png", "b.tif"}, {"a.tif", "b.png"}}) {
            const std::string what = std::string(kind.name) + " " + first + " " + second;
            for (const auto& options : std::vector<std::vector<std::string>>{
                     {"--json"}, {"-v"}, {"--json", "--threshold=0.1", "--antialiasing"}}) {
                EXPECT_EQ(Answer(first, second, options), Answer(first, second, options, true)) << what;
            }
            std::remove(Path("d.png").c_str());
            ASSERT_EQ(Answer(first, second, {Path("d.png")}), Answer(first, second, {Path("wd.png")}, true)) << what;
            EXPECT_EQ(ReadPicture(Path("d.png")).bytes, ReadPicture(Path("wd.png")).bytes) << what;
            ExpectReportAsWholePicturesGive(first, second, {"--json"}, what);
        }
    }
}

}  // namespace
