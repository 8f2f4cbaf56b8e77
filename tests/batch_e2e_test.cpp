// Many pairs in one run: two directories or a list of pairs, reported for
// people, as JSON lines and as JUnit, in input order whatever the number
// of workers.
#include "support/e2e_fixture.h"
#include "support/png_files.h"

#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <regex>

namespace {

class Batch : public EndToEnd {
protected:
    // a/ and b/ with one pair of each kind, and files that are no pictures.
    void MakeTrees() {
        for (const char* sub : {"a/nested", "b/nested"}) {
            std::filesystem::create_directories(Path(sub));
        }
        Pixels24 big = PatternPixels(1000, 1000, 1);
        SavePicture(Path("a/same.png"), PatternPixels(9, 7, 2));
        SavePicture(Path("b/same.png"), PatternPixels(9, 7, 2));
        WriteRawBmp24(Path("a/nested/changed.bmp"), big);
        std::uint8_t& green = big.At(700, 300)[1];
        green = static_cast<std::uint8_t>(green < 128 ? green + 48 : green - 48);
        WriteRawBmp24(Path("b/nested/changed.bmp"), big);
        SavePicture(Path("a/only-a.png"), PatternPixels(4, 4));
        SavePicture(Path("b/only-b.tif"), PatternPixels(4, 4));
        const std::string png = ReadFileBytes(Path("a/same.png"));
        WriteFileBytes(Path("a/cut.png"), png.substr(0, png.size() / 2));
        WriteFileBytes(Path("b/cut.png"), png);
        WriteFileBytes(Path("a/README.md"), "# shots\n");
        WriteFileBytes(Path("b/nested/data.json"), "{}\n");
    }
};

TEST_F(Batch, DirectoriesAreComparedFileByFileAndReportedInOrder) {
    GLIMRA_TEST_NEEDS("picture-library");
    MakeTrees();
    ProcessResult result = Run({Path("a"), Path("b"), Path("diffs")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output,
              "failed: cut.png: Failed to load " + Path("a/cut.png") + "\n"
              "different: nested/changed.bmp: 1 pixel (0.0001 %) in 1x1 at 700,300, largest difference 48\n"
              "only in A: only-a.png\n"
              "only in B: only-b.tif\n"
              "5 pairs: 1 identical, 1 different, 1 failed, 1 only in A, 1 only in B\n");
    // Difference pictures at the same path below the third argument, made
    // as needed, and only for pictures that differ.
    EXPECT_TRUE(FileExists(Path("diffs/nested/changed.bmp")));
    EXPECT_FALSE(FileExists(Path("diffs/same.png")));
    EXPECT_TRUE(TempFilesIn(Path("diffs/nested")).empty());

    // Verbose: every pair, with its time; the same with one worker or two.
    const std::regex times(" \\([0-9]+\\.[0-9] ms\\)");
    const ProcessResult one = Run({Path("a"), Path("b"), "-v", "--jobs=1"});
    const ProcessResult two = Run({Path("a"), Path("b"), "-v", "--jobs=2"});
    EXPECT_EQ(std::regex_replace(one.output, times, ""), std::regex_replace(two.output, times, ""));
    EXPECT_NE(one.output.find("identical: same.png ("), std::string::npos) << one.output;

    // Identical trees: status 0 and only the summary.
    std::filesystem::remove(Path("a/only-a.png"));
    std::filesystem::remove(Path("b/only-b.tif"));
    std::filesystem::remove(Path("a/cut.png"));
    std::filesystem::remove(Path("b/cut.png"));
    WriteFileBytes(Path("b/nested/changed.bmp"), ReadFileBytes(Path("a/nested/changed.bmp")));
    result = Run({Path("a"), Path("b")});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "2 pairs: 2 identical, 0 different, 0 failed, 0 only in A, 0 only in B\n");
}

TEST_F(Batch, JsonLinesAndJunitSayWhatDiffersWhere) {
    GLIMRA_TEST_NEEDS("picture-library");
    MakeTrees();
    const ProcessResult result = Run({Path("a"), Path("b"), "--json", "--junit=" + Path("report.xml")});
    EXPECT_EQ(result.exitStatus, 1);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < result.output.size();) {
        const std::size_t end = result.output.find('\n', at);
        lines.push_back(result.output.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 5u) << result.output;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.rfind("{\"schema\":1,\"name\":", 0), 0u) << line;
        EXPECT_EQ(line.back(), '}') << line;
    }
    EXPECT_NE(lines[0].find("\"status\":\"failed\",\"message\":\"Failed to load " + Path("a/cut.png") + "\""),
              std::string::npos) << lines[0];
    // One pixel in a million: its share is small, never 0.
    EXPECT_NE(lines[1].find("\"status\":\"different\",\"width\":1000,\"height\":1000,"
                            "\"differingPixels\":1,\"share\":1e-06,"
                            "\"box\":{\"x\":700,\"y\":300,\"width\":1,\"height\":1},\"largestDelta\":48"),
              std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"status\":\"missing\",\"missing\":\"b\""), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("\"status\":\"missing\",\"missing\":\"a\""), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("\"status\":\"identical\",\"width\":9,\"height\":7,\"differingPixels\":0"),
              std::string::npos) << lines[4];

    const std::string junit = ReadFileBytes(Path("report.xml"));
    EXPECT_NE(junit.find("<testsuite name=\"glimra\" tests=\"5\" failures=\"3\" errors=\"1\""),
              std::string::npos) << junit;
    EXPECT_NE(junit.find("<testcase classname=\"glimra\" name=\"same.png\""), std::string::npos);
    EXPECT_NE(junit.find("<error type=\"failed\""), std::string::npos);

    // One pair on the command line speaks JSON too, and only JSON.
    const ProcessResult single = Run({Path("a/cut.png"), Path("b/cut.png"), "--json", "-v"});
    EXPECT_EQ(single.exitStatus, 1);
    EXPECT_EQ(single.output.rfind("{\"schema\":1,", 0), 0u) << single.output;
    EXPECT_EQ(std::count(single.output.begin(), single.output.end(), '\n'), 1);
}

TEST_F(Batch, ListsOfPairsFromAFileOrStandardInput) {
    MakeTrees();
    const std::string list = Path("a/same.png") + "\t" + Path("b/same.png") + "\n\n" +
                             Path("a/nested/changed.bmp") + "\t" + Path("b/nested/changed.bmp") + "\t" +
                             Path("out/diff.png") + "\n" + "just one field\n";
    WriteFileBytes(Path("pairs.txt"), list);
    const std::string expected =
        "different: " + Path("a/nested/changed.bmp") + " " + Path("b/nested/changed.bmp") +
        ": 1 pixel (0.0001 %) in 1x1 at 700,300, largest difference 48\n"
        "failed: just one field: Line 4 of PAIRS is not A<tab>B[<tab>difference picture]\n"
        "3 pairs: 1 identical, 1 different, 1 failed, 0 only in A, 0 only in B\n";
    ProcessResult result = Run({"--pairs=" + Path("pairs.txt")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, std::regex_replace(expected, std::regex("PAIRS"), Path("pairs.txt")));
    EXPECT_TRUE(FileExists(Path("out/diff.png")));

    result = RunProcess("/bin/sh", {"-c", "exec \"$0\" --pairs=- < \"$1\"",
                                    std::getenv("GLIMRA_BINARY"), Path("pairs.txt")});
    EXPECT_EQ(result.output, std::regex_replace(expected, std::regex("PAIRS"), "-"));

    result = Run({"--pairs=" + Path("missing.txt")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Cannot read the list of pairs " + Path("missing.txt") + "\n");
    result = Run({"--pairs=" + Path("pairs.txt"), Path("a/same.png")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              UsageText("Give the pairs with --pairs or on the command line, not both"));
}

TEST_F(Batch, HighlightShowsTheFirstPictureGreyWithDifferencesInRed) {
    Pixels24 before = PatternPixels(6, 4, 5);
    Pixels24 after = before;
    after.At(4, 1)[0] ^= 1;
    SavePicture(Path("before.png"), before);
    SavePicture(Path("after.png"), after);
    ASSERT_EQ(Run({Path("before.png"), Path("after.png"), Path("d.png"), "--highlight"}).exitStatus, 1);
    Pixels24 shown = ReadPicture(Path("d.png"));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const std::uint8_t* p = shown.At(x, y);
            if (x == 4 && y == 1) {
                EXPECT_EQ(std::vector<int>(p, p + 3), (std::vector<int>{0, 0, 255}));
            } else {
                EXPECT_TRUE(p[0] == p[1] && p[1] == p[2] && p[0] >= 170) << x << "," << y;
            }
        }
    }
    // The exact modes stay as they were.
    ASSERT_EQ(Run({Path("before.png"), Path("after.png"), Path("x.png"), "-x"}).exitStatus, 1);
    EXPECT_EQ(ReadPicture(Path("x.png")).At(4, 1)[0], 1);
}

// The names in JSON lines, in their order.
std::vector<std::string> NamesIn(const std::string& jsonLines) {
    std::vector<std::string> names;
    const std::regex name("\"name\":\"([^\"]*)\"");
    for (std::sregex_iterator it(jsonLines.begin(), jsonLines.end(), name), end; it != end; ++it) {
        names.push_back((*it)[1]);
    }
    return names;
}

TEST_F(Batch, ShardsSplitThePairsByName) {
    for (const char* sub : {"a", "b"}) {
        std::filesystem::create_directories(Path(sub));
        for (int i = 0; i < 12; ++i) {
            SavePicture(Path(std::string(sub) + "/" + std::to_string(i) + ".png"), PatternPixels(5, 5, 1 + i % 3));
        }
    }
    std::vector<std::string> whole = NamesIn(Run({Path("a"), Path("b"), "--json"}).output);
    ASSERT_EQ(whole.size(), 12u);
    std::vector<std::string> joined;
    for (const char* shard : {"--shard=1/3", "--shard=2/3", "--shard=3/3"}) {
        const std::vector<std::string> part = NamesIn(Run({Path("a"), Path("b"), "--json", shard}).output);
        EXPECT_LT(part.size(), 12u) << shard;
        joined.insert(joined.end(), part.begin(), part.end());
        // The same part on every run.
        EXPECT_EQ(NamesIn(Run({Path("a"), Path("b"), "--json", shard}).output), part) << shard;
    }
    std::sort(whole.begin(), whole.end());
    std::sort(joined.begin(), joined.end());
    EXPECT_EQ(joined, whole);
    // A new file moves no other pair to another part.
    const std::vector<std::string> before = NamesIn(Run({Path("a"), Path("b"), "--json", "--shard=2/3"}).output);
    SavePicture(Path("a/new.png"), PatternPixels(5, 5));
    SavePicture(Path("b/new.png"), PatternPixels(5, 5));
    std::vector<std::string> after = NamesIn(Run({Path("a"), Path("b"), "--json", "--shard=2/3"}).output);
    after.erase(std::remove(after.begin(), after.end(), "new.png"), after.end());
    EXPECT_EQ(after, before);
}

TEST_F(Batch, ADirectoryAgainstNothingNamesWhatIsMissing) {
    std::filesystem::create_directories(Path("a"));
    ProcessResult result = Run({Path("a"), Path("nosuchdir")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "No such file or directory: " + Path("nosuchdir") + "\n");
    result = Run({Path("nosuchdir"), Path("a")});
    EXPECT_EQ(result.output, "No such file or directory: " + Path("nosuchdir") + "\n");
}

TEST_F(Batch, DifferencePicturesOfGifsAreWrittenAsPngBesideTheName) {
    GLIMRA_TEST_NEEDS("picture-library");
    for (const char* sub : {"a", "b"}) {
        std::filesystem::create_directories(Path(sub));
    }
    SaveDepthPicture(Path("a/x.gif"), 6, 4, 8, true, [](int x, int y) { return static_cast<std::uint32_t>(x + y); });
    SaveDepthPicture(Path("b/x.gif"), 6, 4, 8, true, [](int x, int y) { return static_cast<std::uint32_t>(x * y); });
    const ProcessResult result = Run({Path("a"), Path("b"), Path("diffs")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("different: x.gif"), std::string::npos) << result.output;
    EXPECT_FALSE(FileExists(Path("diffs/x.gif")));
    EXPECT_EQ(ReadPicture(Path("diffs/x.gif.png")).width, 6);
}

TEST_F(Batch, ProgressOnlyWhereAPersonWatchesATerminal) {
    GLIMRA_TEST_NEEDS("terminal");
    MakeTrees();
    // Standard error a pipe: nothing there.
    EXPECT_EQ(Run({Path("a"), Path("b")}).errors, "");
    // A terminal (script(1) gives the run one): one line, rewritten in
    // place, cleared before the summary.
    if (!FileExists("/usr/bin/script")) {
        GTEST_SKIP() << "script(1) is not installed";
    }
    const std::string command = std::string(std::getenv("GLIMRA_BINARY")) + " " + Path("a") + " " + Path("b");
    const ProcessResult watched = RunProcess("/usr/bin/script", {"-q", "-e", "-c", command, "/dev/null"});
    EXPECT_NE(watched.output.find("5/5 pairs, 4 not identical, "), std::string::npos) << watched.output;
    EXPECT_NE(watched.output.find("pairs/s"), std::string::npos) << watched.output;
    EXPECT_NE(watched.output.find("\r\x1b[K5 pairs: 1 identical"), std::string::npos) << watched.output;
}

TEST_F(Batch, TheReportHoldsPicturesOfThePairsNotIdentical) {
    GLIMRA_TEST_NEEDS("picture-library");
    MakeTrees();
    const ProcessResult result = Run({Path("a"), Path("b"), "--report=" + Path("report")});
    EXPECT_EQ(result.exitStatus, 1);
    const std::string page = ReadFileBytes(Path("report/index.html"));
    EXPECT_NE(page.find("\"name\":\"nested/changed.bmp\""), std::string::npos);
    // Pictures for the differing pair (the second of five), none for the
    // identical one.
    for (const char* picture : {"1-a.png", "1-b.png", "1-difference.png", "1-highlight.png"}) {
        EXPECT_EQ(ReadPicture(Path(std::string("report/pictures/") + picture)).width, 1000) << picture;
    }
    EXPECT_FALSE(FileExists(Path("report/pictures/4-a.png")));
    EXPECT_TRUE(TempFilesIn(Path("report")).empty());
    EXPECT_TRUE(TempFilesIn(Path("report/pictures")).empty());

    // Onto a path that is a file: refused before anything is compared.
    WriteFileBytes(Path("a-file"), "kept");
    const ProcessResult refused = Run({Path("a"), Path("b"), "--report=" + Path("a-file")});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.output, "Cannot write the report to " + Path("a-file") + "\n");
    EXPECT_EQ(ReadFileBytes(Path("a-file")), "kept");
}

TEST_F(Batch, TheReportShowsAPlainPngAsItIsAndEncodesAnyOtherAnew) {
    // 4 x 2 RGB, rows unfiltered: a browser shows these samples as they
    // are, unless a gAMA chunk asks it to adjust them.
    const std::string rows("\0abcdefghijkl\0mnopqrstuvwx", 26);
    std::string changed = rows;
    changed[5] = 'Z';
    const std::string gamma = PngChunk("gAMA", std::string("\x00\x00\xb1\x8f", 4));
    for (const char* sub : {"a", "b"}) {
        std::filesystem::create_directories(Path(sub));
    }
    WriteFileBytes(Path("a/1-plain.png"), MakePng(4, 2, 8, 2, rows));
    WriteFileBytes(Path("b/1-plain.png"), MakePng(4, 2, 8, 2, changed));
    WriteFileBytes(Path("a/2-gamma.png"), MakePng(4, 2, 8, 2, rows, gamma));
    WriteFileBytes(Path("b/2-gamma.png"), MakePng(4, 2, 8, 2, changed, gamma));
    EXPECT_EQ(Run({Path("a"), Path("b"), "--report=" + Path("report")}).exitStatus, 1);
    EXPECT_EQ(ReadFileBytes(Path("report/pictures/0-a.png")), ReadFileBytes(Path("a/1-plain.png")));
    EXPECT_EQ(ReadFileBytes(Path("report/pictures/0-b.png")), ReadFileBytes(Path("b/1-plain.png")));
    EXPECT_NE(ReadFileBytes(Path("report/pictures/1-a.png")), ReadFileBytes(Path("a/2-gamma.png")));
    EXPECT_EQ(Run({Path("report/pictures/1-a.png"), Path("a/2-gamma.png")}).exitStatus, 0);
}

}  // namespace

// A worker takes pair after pair and reuses its memory: every pair must
// get the answer it gets alone, whatever came before it. Large noisy
// pictures leave full buffers behind for the small, cut, 16-bit and
// alpha ones after them, and a file our reader declines (the library's,
// in a worker of its own) sits among them.
TEST_F(Batch, EarlierPairsChangeNoLaterAnswer) {
    SavePicture(Path("big-a.png"), PatternPixels(1200, 900, 1));
    SavePicture(Path("big-b.png"), PatternPixels(1200, 900, 2));
    WriteRawBmp24(Path("bmp-a.bmp"), PatternPixels(300, 200, 3));
    WriteRawBmp24(Path("bmp-b.bmp"), PatternPixels(300, 200, 4));
    SavePicture(Path("small.png"), PatternPixels(9, 7, 5));
    const std::string png = ReadFileBytes(Path("small.png"));
    WriteFileBytes(Path("cut.png"), png.substr(0, png.size() / 2));
    // 16-bit RGBA rows differing only in a low byte, and 8-bit RGBA rows
    // differing only in alpha.
    std::string deep(1 + 8 * 40, '\x11');
    deep[0] = 0;
    std::string rows16;
    std::string rows8;
    for (int y = 0; y < 30; ++y) {
        rows16 += deep;
        rows8 += std::string(1, '\0') + std::string(4 * 40, static_cast<char>(y));
    }
    WriteFileBytes(Path("deep-a.png"), MakePng(40, 30, 16, 6, rows16));
    rows16[1 + 8 * 7 + 1] = '\x12';
    WriteFileBytes(Path("deep-b.png"), MakePng(40, 30, 16, 6, rows16));
    WriteFileBytes(Path("alpha-a.png"), MakePng(40, 30, 8, 6, rows8));
    rows8[1 + 4 * 5 + 3] = '\x7F';
    WriteFileBytes(Path("alpha-b.png"), MakePng(40, 30, 8, 6, rows8));
    // Too little image data: our reader declines it, the library decodes.
    WriteFileBytes(Path("short.png"), MakePng(40, 30, 8, 6, rows8.substr(0, rows8.size() - 100)));

    const std::vector<std::string> pairs = {
        "big-a.png\tbig-b.png\tbig-d.png", "small.png\tcut.png", "deep-a.png\tdeep-b.png",
        "bmp-a.bmp\tbmp-b.bmp\tbmp-d.png", "alpha-a.png\talpha-b.png", "short.png\talpha-a.png",
        "big-b.png\tbig-a.png", "small.png\tsmall.png", "alpha-b.png\tsmall.png"};
    const std::regex times(",\"milliseconds\":[0-9.]+");
    std::string together;
    std::string alone;
    for (const std::string& pair : pairs) {
        together += Path(pair.substr(0, pair.find('\t'))) + "\t" + Path(pair.substr(pair.find('\t') + 1)) + "\n";
    }
    // Paths in the list are whole; the third column too.
    together = std::regex_replace(together, std::regex("\t([a-z-]+\\.png)\n"), "\t" + Path("") + "$1\n");
    WriteFileBytes(Path("pairs.txt"), together);
    const ProcessResult all = Run({"--pairs=" + Path("pairs.txt"), "--json", "--jobs=1"});
    for (std::size_t at = 0; at < together.size();) {
        const std::size_t end = together.find('\n', at) + 1;
        WriteFileBytes(Path("one.txt"), together.substr(at, end - at));
        alone += Run({"--pairs=" + Path("one.txt"), "--json", "--jobs=1"}).output;
        at = end;
    }
    EXPECT_EQ(std::regex_replace(all.output, times, ""), std::regex_replace(alone, times, ""));
    EXPECT_NE(all.output.find("\"status\":\"different\",\"width\":40"), std::string::npos) << all.output;
    EXPECT_EQ(std::count(all.output.begin(), all.output.end(), '\n'), 9);
}
