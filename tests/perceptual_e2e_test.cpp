// The perceptual comparison (--threshold, --antialiasing) counts what
// odiff 4.5 counts on real screenshots, decides across bands of rows as it
// does on whole pictures, and works with every other option of what
// counts.
#include "support/e2e_fixture.h"

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/files.h"
#include "support/png_files.h"

namespace {

const std::string kRendered = GLIMRA_PERCEPTUAL_DIR;
const std::string kPeerPictures = GLIMRA_PEER_PICTURES_DIR;

class Perceptual : public EndToEnd {
protected:
    // A field of the run's JSON line, -1 where it is missing.
    long long Field(const ProcessResult& result, const std::string& name) {
        std::smatch match;
        if (!std::regex_search(result.output, match, std::regex("\"" + name + "\":([0-9]+)"))) {
            return -1;
        }
        return std::stoll(match[1]);
    }

    // (counted, anti-aliased) pixels of a --json run.
    std::pair<long long, long long> Counts(const std::string& a, const std::string& b,
                                           std::vector<std::string> options) {
        options.insert(options.begin(), {a, b, "--json"});
        const ProcessResult result = Run(options);
        return {Field(result, "differingPixels"), Field(result, "antialiasedPixels")};
    }

    // `tiles` copies of a rendered picture's rows [top, top + rows), side by
    // side (`across`) or one below the other.
    void Tile(const std::string& rendered, const std::string& out, int tiles, bool across, int top, int rows) {
        const Pixels24 tile = ReadPicture(kRendered + "/" + rendered);
        Pixels24 picture;
        picture.width = across ? tile.width * tiles : tile.width;
        picture.height = across ? rows : rows * tiles;
        picture.bytes.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                const int sourceY = top + (across ? y : y % rows);
                std::copy_n(const_cast<Pixels24&>(tile).At(x % tile.width, sourceY), 3, picture.At(x, y));
            }
        }
        SavePicture(Path(out), picture);
    }
};

struct Expected {
    const char* a;
    const char* b;
    const char* threshold;
    long long counted;
    long long withDetector;
};

// The counts of `odiff A B -t T` and `odiff A B -t T --antialiasing`
// (npm odiff-bin 4.5.0, its own linux-x64 binary) on the pairs
// tests/data/perceptual/render.sh made with Chromium: font hinting off
// and full (opaque, and on a transparent background), glyphs at
// fractions of a pixel or not, and device scale factors 1 and 2.
const Expected kOdiffCounts[] = {
    {"hinting-none.png", "hinting-full.png", "0", 2572, 454},
    {"hinting-none.png", "hinting-full.png", "0.05", 1530, 238},
    {"hinting-none.png", "hinting-full.png", "0.1", 1057, 166},
    {"hinting-none.png", "hinting-full.png", "0.3", 154, 34},
    {"clear-none.png", "clear-full.png", "0", 2601, 477},
    {"clear-none.png", "clear-full.png", "0.05", 1541, 242},
    {"clear-none.png", "clear-full.png", "0.1", 1069, 171},
    {"clear-none.png", "clear-full.png", "0.3", 158, 36},
    {"default.png", "subpixel-off.png", "0", 1289, 356},
    {"default.png", "subpixel-off.png", "0.05", 1114, 317},
    {"default.png", "subpixel-off.png", "0.1", 993, 292},
    {"default.png", "subpixel-off.png", "0.3", 613, 202},
    {"default.png", "scale-2.png", "0", 20020, 11174},
    {"default.png", "scale-2.png", "0.05", 18887, 11001},
    {"default.png", "scale-2.png", "0.1", 18134, 10957},
    {"default.png", "scale-2.png", "0.3", 14902, 10355},
};

TEST_F(Perceptual, RenderedScreenshotsCountAsOdiffDoes) {
    for (const Expected& e : kOdiffCounts) {
        const std::string a = kRendered + "/" + e.a;
        const std::string b = kRendered + "/" + e.b;
        const std::string threshold = std::string("--threshold=") + e.threshold;
        const auto plain = Counts(a, b, {threshold});
        EXPECT_EQ(plain.first, e.counted) << e.a << " " << e.b << " " << threshold;
        EXPECT_EQ(plain.second, -1) << "anti-aliased pixels are told only under --antialiasing";
        const auto detected = Counts(a, b, {threshold, "--antialiasing"});
        EXPECT_EQ(detected.first, e.withDetector) << e.a << " " << e.b << " " << threshold << " --antialiasing";
        EXPECT_EQ(detected.first + detected.second, e.counted) << "every pixel left out would have counted";
    }
}

// The full-page pair beside the repository: 3446x10728, 37 million pixels.
TEST_F(Perceptual, TheCypressPairCountsAsOdiffDoes) {
    const std::string a = kPeerPictures + "/www.cypress.io.png";
    const std::string b = kPeerPictures + "/www.cypress.io-1.png";
    if (!std::ifstream(a).good()) {
        GTEST_SKIP() << "no " << a;
    }
    // odiff 4.5.0 as above.
    const Expected counts[] = {{"", "", "0.05", 1178574, 996867},
                               {"", "", "0.1", 1090946, 924786},
                               {"", "", "0.3", 970611, 858150}};
    for (const Expected& e : counts) {
        const std::string threshold = std::string("--threshold=") + e.threshold;
        EXPECT_EQ(Counts(a, b, {threshold}).first, e.counted) << threshold;
        EXPECT_EQ(Counts(a, b, {threshold, "--antialiasing"}).first, e.withDetector) << threshold;
    }
}

// Bands of rows carry the rows the detector looks at: tall pictures (bands
// of 273 rows, the tiles' seams elsewhere) and very wide ones (bands of
// two rows, fewer than the rows carried) answer as whole pictures do, and
// so do their highlights.
TEST_F(Perceptual, BandsDecideAsWholePicturesDo) {
    struct Shape {
        int tiles;
        bool across;
        int top;
        int rows;
    };
    for (const Shape& shape : {Shape{5, false, 0, 240}, Shape{125, true, 30, 23}}) {
        Tile("hinting-none.png", "a.png", shape.tiles, shape.across, shape.top, shape.rows);
        Tile("hinting-full.png", "b.png", shape.tiles, shape.across, shape.top, shape.rows);
        for (const auto& options : std::vector<std::vector<std::string>>{
                 {"--json", "--threshold=0.1", "--antialiasing"},
                 {"--json", "--antialiasing", "--ignore=100x50+20+200", "--tolerance=3"},
                 {"--json", "--threshold=0.05"}}) {
            EXPECT_EQ(Answer("a.png", "b.png", options, false), Answer("a.png", "b.png", options, true))
                << shape.tiles << " " << options[1];
        }
        for (const std::string mode : {"--highlight", "-d"}) {
            const std::vector<std::string> options = {mode, "--threshold=0.1", "--antialiasing", "--ignore=9x9+1+1"};
            std::vector<std::string> streamed = options;
            streamed.push_back(Path("d.png"));
            std::vector<std::string> whole = options;
            whole.push_back(Path("wd.png"));
            ASSERT_EQ(Answer("a.png", "b.png", streamed, false), Answer("a.png", "b.png", whole, true));
            EXPECT_EQ(ReadPicture(Path("d.png")).bytes, ReadPicture(Path("wd.png")).bytes) << shape.tiles << mode;
        }
    }
}

// The highlight paints what counts red and what the detector left out
// yellow, as many of each as the JSON says.
TEST_F(Perceptual, TheHighlightShowsCountedAndAntialiasedPixels) {
    const std::string a = kRendered + "/hinting-none.png";
    const std::string b = kRendered + "/hinting-full.png";
    const ProcessResult result = Run({a, b, Path("h.png"), "--highlight", "--threshold=0.1", "--antialiasing", "--json"});
    Pixels24 highlight = ReadPicture(Path("h.png"));
    long long red = 0;
    long long yellow = 0;
    for (int y = 0; y < highlight.height; ++y) {
        for (int x = 0; x < highlight.width; ++x) {
            const std::uint8_t* p = highlight.At(x, y);  // blue, green, red
            red += p[0] == 0 && p[1] == 0 && p[2] == 255;
            yellow += p[0] == 0 && p[1] == 255 && p[2] == 255;
        }
    }
    EXPECT_EQ(red, Field(result, "differingPixels"));
    EXPECT_EQ(yellow, Field(result, "antialiasedPixels"));
    EXPECT_GT(yellow, 0);
}

// Regions are left out first, --tolerance must be exceeded as well, and
// --max-differing applies to what still counts; a pair whose samples
// differ but none of whose pixels count is similar.
TEST_F(Perceptual, OtherOptionsOfWhatCountsApply) {
    const std::string a = kRendered + "/hinting-none.png";
    const std::string b = kRendered + "/hinting-full.png";
    const auto verdict = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {a, b, "-v"});
        const ProcessResult result = Run(options);
        const std::size_t at = result.output.find("Images ");
        return std::to_string(result.exitStatus) + " " +
               result.output.substr(at, result.output.find('\n', at) - at);
    };
    EXPECT_EQ(verdict({"--threshold=0.1", "--antialiasing"}), "1 Images differ");
    EXPECT_EQ(verdict({"--threshold=0.1", "--antialiasing", "--max-differing=166"}), "0 Images are similar");
    EXPECT_EQ(verdict({"--threshold=0.1", "--antialiasing", "--max-differing=165"}), "1 Images differ");
    EXPECT_EQ(verdict({"--threshold=0.1", "--ignore=320x240+0+0"}), "0 Images are similar");
    EXPECT_EQ(verdict({"--threshold=0.1", "--tolerance=255"}), "0 Images are similar");
    EXPECT_EQ(verdict({"--threshold=1"}), "0 Images are similar") << "no difference exceeds the largest";
    EXPECT_EQ(verdict({"--threshold=1", "--antialiasing"}), "0 Images are similar");
    const auto tolerated = Counts(a, b, {"--threshold=0.1", "--tolerance=40"});
    EXPECT_GT(tolerated.first, 0);
    EXPECT_LT(tolerated.first, 1057) << "a pixel counts only when it exceeds both";
    EXPECT_EQ(Counts(a, a, {"--threshold=0", "--antialiasing"}), (std::pair<long long, long long>{0, 0}));
}

// 16-bit pictures are measured by their 8-bit form and alpha: low bytes
// alone never count, yet the pair is similar rather than identical, as
// whole pictures and as streams alike.
TEST_F(Perceptual, DeepPicturesAreMeasuredByTheirEightBitForm) {
    // 16x16 RGBA of 16 bits; b differs in one low byte of a colour, c in
    // the high byte of an alpha as well.
    std::string a(16 * 16 * 8, '\0');
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<char>(i % 8 == 6 ? 0xff : (i * 37) % 251);
    }
    std::string b = a;
    b[8 * 40 + 1] ^= 1;
    std::string c = b;
    c[8 * 90 + 6] = 0x10;
    const auto png = [](const std::string& raw) {
        return MakePng(16, 16, 16, 6, FilterRows(raw, 16 * 8, 8, [](std::size_t) { return 0; }));
    };
    WriteFileBytes(Path("a.png"), png(a));
    WriteFileBytes(Path("b.png"), png(b));
    WriteFileBytes(Path("c.png"), png(c));
    for (const bool whole : {false, true}) {
        EXPECT_EQ(Answer("a.png", "b.png", {"--threshold=0", "-v"}, whole), "0 Load source images took T ms\n"
                                                                          "Images are similar\n"
                                                                          "Perform diff took T ms\n");
        const std::string counted = Answer("a.png", "c.png", {"--threshold=0", "--json"}, whole);
        EXPECT_NE(counted.find("\"status\":\"different\",\"width\":16,\"height\":16,\"differingPixels\":1,"),
                  std::string::npos) << counted;
    }
}

// Directory runs say the anti-aliased pixels left out on each pair's line
// and in the summary.
TEST_F(Perceptual, PeoplesLinesAndTheSummaryTellTheAntialiasedPixels) {
    std::filesystem::create_directory(Path("A"));
    std::filesystem::create_directory(Path("B"));
    WriteFileBytes(Path("A/page.png"), ReadFileBytes(kRendered + "/hinting-none.png"));
    WriteFileBytes(Path("B/page.png"), ReadFileBytes(kRendered + "/hinting-full.png"));
    const ProcessResult result = Run({Path("A"), Path("B"), "--threshold=0.1", "--antialiasing"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("different: page.png: 166 pixels"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find(", 891 anti-aliased pixels left out\n"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("0 only in B; 891 anti-aliased pixels left out\n"), std::string::npos)
        << result.output;
}

}  // namespace
