// What counts, narrowed on request: regions left out (--ignore), a
// per-channel tolerance (--tolerance) and a number or share of pixels
// allowed to differ (--max-differing). A pair that passes only by them is
// similar: status 0, said as such everywhere.
#include "support/e2e_fixture.h"

#include <regex>

#include "support/png_files.h"

namespace {

class Scope : public EndToEnd {
protected:
    // a.bmp and b.bmp, 40x30; b has the block 10..19 x 5..9 raised by
    // `step` in every channel, and with `corner` also pixel 39,29.
    void MakePair(int step, bool corner = false) {
        Pixels24 a = PatternPixels(40, 30, 1);
        for (std::uint8_t& byte : a.bytes) {
            byte = static_cast<std::uint8_t>(byte % 200);  // room to raise
        }
        Pixels24 b = a;
        for (int y = 5; y < 10; ++y) {
            for (int x = 10; x < 20; ++x) {
                for (int c = 0; c < 3; ++c) {
                    b.At(x, y)[c] = static_cast<std::uint8_t>(b.At(x, y)[c] + step);
                }
            }
        }
        if (corner) {
            b.At(39, 29)[0] = static_cast<std::uint8_t>(b.At(39, 29)[0] + 50);
        }
        WriteRawBmp24(Path("a.bmp"), a);
        WriteRawBmp24(Path("b.bmp"), b);
    }

    ProcessResult Compare(const std::vector<std::string>& options) {
        std::vector<std::string> args = {Path("a.bmp"), Path("b.bmp")};
        args.insert(args.end(), options.begin(), options.end());
        return Run(args);
    }

    // The run's status and its verbose verdict line.
    std::pair<int, std::string> Verdict(const std::vector<std::string>& options) {
        std::vector<std::string> args = options;
        args.push_back("-v");
        const ProcessResult result = Compare(args);
        const std::size_t at = result.output.find("Images ");
        return {result.exitStatus, result.output.substr(at, result.output.find('\n', at) - at)};
    }
};

const std::pair<int, std::string> kSimilar{0, "Images are similar"};
const std::pair<int, std::string> kDiffer{1, "Images differ"};

TEST_F(Scope, RegionsToleranceAndLimitsDecideOnBothSidesOfTheEdge) {
    MakePair(40);
    EXPECT_EQ(Verdict({}), kDiffer);
    EXPECT_EQ(Verdict({"--ignore=10x5+10+5"}), kSimilar);
    EXPECT_EQ(Verdict({"--ignore=9x5+10+5"}), kDiffer) << "one column short";
    EXPECT_EQ(Verdict({"--ignore=5x5+10+5", "--ignore=5x5+15+5"}), kSimilar) << "two regions add up";
    EXPECT_EQ(Verdict({"--ignore=100x100-50-50"}), kSimilar) << "clipped";
    EXPECT_EQ(Verdict({"--ignore=5x5+100+100"}), kDiffer) << "wholly outside: leaves out nothing";
    // 50 pixels differ, of 1200.
    EXPECT_EQ(Verdict({"--max-differing=50"}), kSimilar);
    EXPECT_EQ(Verdict({"--max-differing=49"}), kDiffer);
    EXPECT_EQ(Verdict({"--max-differing=4.2%"}), kSimilar);
    EXPECT_EQ(Verdict({"--max-differing=4.1%"}), kDiffer);
    // The share is of the pixels compared: 50 of 1150 is 4.35 %.
    EXPECT_EQ(Verdict({"--ignore=10x5+0+0", "--max-differing=4.3%"}), kDiffer);
    EXPECT_EQ(Verdict({"--ignore=10x5+0+0", "--max-differing=4.4%"}), kSimilar);

    MakePair(3);
    EXPECT_EQ(Verdict({"--tolerance=3"}), kSimilar);
    EXPECT_EQ(Verdict({"--tolerance=2"}), kDiffer);
    // Alpha counts in 8-bit levels, 16-bit samples in levels of 257.
    std::string rows16;
    std::string rows8;
    for (int y = 0; y < 4; ++y) {
        rows16 += std::string(1, '\0') + std::string(8 * 4, '\x40');
        rows8 += std::string(1, '\0') + std::string(4 * 4, '\x40');
    }
    WriteFileBytes(Path("a16.png"), MakePng(4, 4, 16, 6, rows16));
    WriteFileBytes(Path("a8.png"), MakePng(4, 4, 8, 6, rows8));
    rows16[1 + 8 + 6] = '\x43';  // alpha of pixel 1: 0x4040 + 3 * 256
    rows16[1 + 8 + 7] = '\x43';  // ... + 3: exactly 3 * 257 more
    rows8[1 + 4 + 3] = '\x43';   // alpha of pixel 1, 3 more
    WriteFileBytes(Path("b16.png"), MakePng(4, 4, 16, 6, rows16));
    WriteFileBytes(Path("b8.png"), MakePng(4, 4, 8, 6, rows8));
    for (const char* depth : {"16", "8"}) {
        for (const auto& [tolerance, expected] : {std::pair{"--tolerance=3", kSimilar}, std::pair{"--tolerance=2", kDiffer}}) {
            const ProcessResult result =
                Run({Path(std::string("a") + depth + ".png"), Path(std::string("b") + depth + ".png"), tolerance, "-v"});
            EXPECT_EQ(result.exitStatus, expected.first) << depth << " " << tolerance;
            EXPECT_NE(result.output.find(expected.second), std::string::npos) << depth << " " << tolerance;
        }
    }
    // Identical stays identical under any of them.
    WriteFileBytes(Path("b.bmp"), ReadFileBytes(Path("a.bmp")));
    EXPECT_EQ(Verdict({"--tolerance=9", "--ignore=1x1+0+0"}), (std::pair<int, std::string>{0, "Images are identical"}));
}

TEST_F(Scope, SimilarPairsAreSaidSoInEveryReport) {
    GLIMRA_TEST_NEEDS("picture-library");
    MakePair(40, true);
    ProcessResult result = Compare({"--ignore=10x5+10+5", "--max-differing=1", "--json"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.output.find("\"status\":\"similar\",\"width\":40,\"height\":30,\"differingPixels\":1,"),
              std::string::npos)
        << result.output;
    // The difference picture of a pair that fails: the region is black.
    result = Compare({"--ignore=10x5+10+5", Path("d.bmp")});
    EXPECT_EQ(result.exitStatus, 1);
    const Pixels24 difference = ReadPicture(Path("d.bmp"));
    Pixels24 copy = difference;
    EXPECT_EQ(copy.At(12, 7)[0] | copy.At(12, 7)[1] | copy.At(12, 7)[2], 0);
    EXPECT_EQ(copy.At(39, 29)[0], 50);

    // Many pairs: the summary counts similar pairs apart; a list's fourth
    // column adds regions of the pair's own.
    WriteFileBytes(Path("pairs.txt"), Path("a.bmp") + "\t" + Path("b.bmp") + "\t\t10x5+10+5 1x1+39+29\n" +
                                          Path("a.bmp") + "\t" + Path("b.bmp") + "\n" + Path("a.bmp") +
                                          "\t" + Path("b.bmp") + "\t\tten\n");
    result = Run({"--pairs=" + Path("pairs.txt"), "--junit=" + Path("junit.xml")});
    EXPECT_EQ(result.exitStatus, 1);
    const std::regex names(Path("") + "[ab]\\.bmp");
    EXPECT_EQ(std::regex_replace(result.output, names, "X"),
              "similar: X X: 0 pixels\n"
              "different: X X: 51 pixels (4.25 %) in 30x25 at 10,5, largest difference 50\n"
              "failed: X X: Line 3 of " + Path("pairs.txt") + " has a region that is not WxH+X+Y: ten\n"
              "3 pairs: 0 identical, 1 similar, 1 different, 1 failed, 0 only in A, 0 only in B\n");
    const std::string junit = ReadFileBytes(Path("junit.xml"));
    EXPECT_NE(junit.find("<system-out>similar: "), std::string::npos) << junit;
    EXPECT_NE(junit.find("failures=\"1\" errors=\"1\""), std::string::npos) << junit;
}

TEST_F(Scope, BadValuesAreBadCommandLines) {
    MakePair(1);
    for (const std::string bad : {"--tolerance=-1", "--tolerance=256", "--tolerance=x", "--tolerance=",
                                  "--ignore=garbage", "--ignore=0x5+1+1", "--ignore=5x0+1+1", "--ignore=5x5+1",
                                  "--ignore=", "--max-differing=5x", "--max-differing=101%",
                                  "--max-differing=%", "--max-differing=-1"}) {
        const ProcessResult result = Compare({bad});
        EXPECT_EQ(result.exitStatus, 1) << bad;
        EXPECT_EQ(Normalised(result.output), UsageText("Invalid value in " + bad)) << bad;
        EXPECT_EQ(result.errors, "") << bad;
    }
}

}  // namespace
