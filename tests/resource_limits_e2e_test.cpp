// The tool under limits of the operating system: too little address space
// for the pictures, a file-size limit or a full disk for the difference
// picture. Every run ends like any other failure, with one message and
// status 1, never a signal, never a half-written picture.
//
// Labelled "resource-limits": memory checkers and AddressSanitizer need far
// more address space than these limits leave, so their CI steps leave
// these tests out.
#include "support/e2e_fixture.h"
#include "support/hostile_files.h"

#include <cstdlib>
#include <iostream>
#include <regex>

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

using ResourceLimits = EndToEnd;

// A small tmpfs mounted for one test, unmounted however the test ends.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& mountPoint) : path(mountPoint) {
        std::system(("mkdir -p " + path).c_str());
        mounted = std::system(("mount -t tmpfs -o size=256k tmpfs " + path + " 2>/dev/null").c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted) {
            std::system(("umount " + path).c_str());
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted = false;

private:
    std::string path;
};

TEST_F(ResourceLimits, FileSizeLimitOnSaveKeepsTheEarlierFile) {
    // Noise does not compress, so every format needs more than the limit.
    SavePicture(Path("a.bmp"), PatternPixels(200, 200, 1));
    SavePicture(Path("b.bmp"), PatternPixels(200, 200, 2));
    for (const char* name : {"out.png", "out.tif", "out.tga", "out.bmp"}) {
        WriteFileBytes(Path(name), "earlier file");
        const ProcessResult result =
            Run({Path("a.bmp"), Path("b.bmp"), Path(name)}, {0, 64 * 1024});
        EXPECT_EQ(result.signal, 0) << name;
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(result.output, "Failed to save " + Path(name) + "\n");
        EXPECT_EQ(ReadFileBytes(Path(name)), "earlier file") << name;
    }
    EXPECT_TRUE(TempFilesIn(dir).empty()) << "a temporary file was left behind";
}

TEST_F(ResourceLimits, FullDiskOnSaveKeepsTheEarlierFile) {
    const std::string disk = Path("disk");
    const SmallDisk mount(disk);
    if (!mount.mounted) {
        GTEST_SKIP() << "no permission to mount a small tmpfs here";
    }
    SavePicture(Path("a.bmp"), PatternPixels(300, 300, 1));
    SavePicture(Path("b.bmp"), PatternPixels(300, 300, 2));
    for (const char* name : {"out.png", "out.tif", "out.tga"}) {
        const std::string target = disk + "/" + name;
        WriteFileBytes(target, "earlier file");
        const ProcessResult result = Run({Path("a.bmp"), Path("b.bmp"), target});
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(result.output, "Failed to save " + target + "\n");
        EXPECT_EQ(ReadFileBytes(target), "earlier file") << name;
    }
    EXPECT_TRUE(TempFilesIn(disk).empty()) << "a temporary file was left behind";
}

TEST_F(ResourceLimits, HeadersClaimingHugePicturesFailWithAMessage) {
    // 70000 x 70000 is 14.7 GB in 24-bit form, 100000 x 100000 30 GB. The
    // pixel limit refuses them from their headers; without it, they are
    // more than the address space allows, so the library's or our own
    // allocation must fail.
    for (const std::uint32_t side : {70000u, 100000u}) {
        const std::string sideText = std::to_string(side);
        WriteFileBytes(Path("huge.bmp"), BmpHeaderOnly(side, side));
        WriteFileBytes(Path("huge.png"), PngHeaderOnly(side, side));
        WriteFileBytes(Path("huge.ppm"), PnmHeaderOnly(side, side));
        for (const char* name : {"huge.bmp", "huge.png", "huge.ppm"}) {
            ProcessResult result = Run({Path(name), Path(name)}, {2048 * kMiB, 0});
            SCOPED_TRACE(std::string(name) + " claiming " + sideText + "x" + sideText + ": " +
                         result.output);
            EXPECT_EQ(result.signal, 0);
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.output, "Too many pixels in " + Path(name) + ": " + sideText + "x" +
                                         sideText + " is more than the limit of 1073741824\n");
            result = Run({Path(name), Path(name), "--max-pixels=0"}, {2048 * kMiB, 0});
            EXPECT_EQ(result.signal, 0);
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_TRUE(result.output == "Failed to load " + Path(name) + "\n" ||
                        result.output ==
                            "Out of memory for a " + sideText + "x" + sideText + " image\n")
                << result.output;
        }
    }
}

TEST_F(ResourceLimits, EveryAddressSpaceLimitGivesAnAnswerOrAMessage) {
    // From a limit where hardly a picture loads to one where everything
    // fits: with -v every run prints either its answer or its failure.
    const int side = 6000;
    SaveDepthPicture(Path("a.png"), side, side, 8, false, [](int x, int y) { return (x + y) & 0xFFu; });
    SaveDepthPicture(Path("b.png"), side, side, 8, false, [](int x, int y) { return (x ^ y) & 0xFFu; });

    const std::string loaded = "Load source images took T ms\n";
    const std::regex failedLoading(
        "(Out of memory for a 6000x6000 image|Failed to load .*/[ab]\\.png)\n" + loaded);
    const std::regex failedDiff(loaded + "Out of memory for a 6000x6000 image\n"
                                         "Perform diff took T ms\n");
    const std::regex failedSave(loaded + "Images differ\nPerform diff took T ms\n"
                                "(Failed to create freeimage for .*/d\\.bmp\n\n|"
                                "Failed to save .*/d\\.bmp\n)Save diff image took T ms\n");
    const std::string saved = loaded + "Images differ\nPerform diff took T ms\n"
                                       "Save diff image took T ms\n";
    const std::string identical = loaded + "Images are identical\nPerform diff took T ms\n";

    int answered = 0;
    int failed = 0;
    bool sawOutOfMemory = false;
    for (std::uint64_t limit = 50 * kMiB; limit <= 1000 * kMiB; limit += 50 * kMiB) {
        for (const char* other : {"b.png", "a.png"}) {
            std::remove(Path("d.bmp").c_str());
            const ProcessResult result =
                Run({Path("a.png"), Path(other), Path("d.bmp"), "-v"}, {limit, 0});
            const std::string output = Normalised(result.output);
            SCOPED_TRACE("limit " + std::to_string(limit / kMiB) + " MiB, a.png against " + other +
                         ": " + result.output);
            ASSERT_EQ(result.signal, 0);
            const bool same = std::string(other) == "a.png";
            if ((same && result.exitStatus == 0 && output == identical) ||
                (!same && result.exitStatus == 1 && output == saved)) {
                ++answered;
                EXPECT_EQ(FileExists(Path("d.bmp")), !same);
                continue;
            }
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_TRUE(std::regex_match(output, failedLoading) ||
                        std::regex_match(output, failedDiff) ||
                        (!same && std::regex_match(output, failedSave)));
            EXPECT_FALSE(FileExists(Path("d.bmp")));
            sawOutOfMemory |= output.find("Out of memory for a 6000x6000 image\n") != std::string::npos;
            ++failed;
        }
    }
    std::cout << answered << " runs answered, " << failed << " failed with a message\n";
    // The sweep must cover both ends, or it tests nothing.
    EXPECT_GT(answered, 0);
    EXPECT_GT(failed, 0);
    EXPECT_TRUE(sawOutOfMemory) << "no limit in the sweep reached our own allocation";
}

// --update whose copy cannot be written whole (a file-size limit, a full
// disk) fails that pair with a message, and A's old file stays whole.
TEST_F(ResourceLimits, AnUpdateThatCannotBeWrittenKeepsTheOldReference) {
    SavePicture(Path("a.bmp"), PatternPixels(200, 200, 1));
    SavePicture(Path("b.bmp"), PatternPixels(200, 200, 2));
    const std::string old = ReadFileBytes(Path("a.bmp"));
    ProcessResult result = Run({Path("a.bmp"), Path("b.bmp"), "--update"}, {0, 64 * 1024});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Failed to update " + Path("a.bmp") + ": the copy of " + Path("b.bmp") +
                                 " could not be written whole; the old file is kept\n");
    EXPECT_EQ(ReadFileBytes(Path("a.bmp")), old);
    EXPECT_TRUE(TempFilesIn(dir).empty()) << "a temporary file was left behind";

    const std::string disk = Path("disk");
    const SmallDisk mount(disk);
    if (!mount.mounted) {
        GTEST_SKIP() << "no permission to mount a small tmpfs here";
    }
    // The small disk (256 KiB) holds A (77 KB) but not A and its copy of
    // B (188 KB) side by side.
    SavePicture(disk + "/a.bmp", PatternPixels(160, 160, 1));
    SavePicture(Path("big.bmp"), PatternPixels(250, 250, 2));
    const std::string reference = ReadFileBytes(disk + "/a.bmp");
    result = Run({disk + "/a.bmp", Path("big.bmp"), "--update", "--json"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("\"status\":\"failed\",\"message\":\"Failed to update"), std::string::npos)
        << result.output;
    EXPECT_EQ(ReadFileBytes(disk + "/a.bmp"), reference);
    EXPECT_TRUE(TempFilesIn(disk).empty()) << "a temporary file was left behind";
}

}  // namespace

// A worker that serves pair after pair and runs out of memory fails that
// pair alone, with the answer the pair gets on its own, and the pairs
// after it are answered as ever.
TEST_F(ResourceLimits, AServingWorkerOutOfMemoryFailsOnlyItsOwnPair) {
    SavePicture(Path("small-a.png"), PatternPixels(32, 32, 1));
    SavePicture(Path("small-b.png"), PatternPixels(32, 32, 2));
    // Two frames of 6000 x 6000 are 216 MB: more than the limit below.
    // The pair is read as frames (GLIMRA_WHOLE_PICTURES): as streams of
    // rows it would compare in far less.
    WriteBlackPng(Path("big-a.png"), 6000, 6000, false);
    WriteBlackPng(Path("big-b.png"), 6000, 6000, true);
    const std::string small = Path("small-a.png") + "\t" + Path("small-b.png") + "\n";
    const std::string big = Path("big-a.png") + "\t" + Path("big-b.png") + "\n";
    WriteFileBytes(Path("pairs.txt"), small + big + small);
    WriteFileBytes(Path("big.txt"), big);
    WriteFileBytes(Path("small.txt"), small);
    const auto run = [&](const std::string& list) {
        std::vector<std::string> args = {"--json", "--jobs=1", "--max-memory=150M"};
        args.push_back("--pairs=" + Path(list));
        return std::regex_replace(Run(args).output, std::regex(",\"milliseconds\":[0-9.]+"), "");
    };
    setenv("GLIMRA_WHOLE_PICTURES", "1", 1);
    const std::string alone = run("big.txt");
    EXPECT_NE(alone.find("\"status\":\"failed\""), std::string::npos) << alone;
    EXPECT_EQ(run("pairs.txt"), run("small.txt") + alone + run("small.txt"));
    unsetenv("GLIMRA_WHOLE_PICTURES");
}

// A screenshot far larger than the memory the worker may use is compared
// as two streams of rows, its difference picture and its report's
// pictures written as they come.
TEST_F(ResourceLimits, AScreenshotPairOf20000By20000ComparesWithin256M) {
    WriteBlackPng(Path("a.png"), 20000, 20000, false);
    WriteBlackPng(Path("b.png"), 20000, 20000, true);
    const ProcessResult result = Run({"--json", "--max-memory=256M", "--report=" + Path("report"), Path("a.png"),
                                      Path("b.png"), Path("d.png")});
    EXPECT_EQ(result.exitStatus, 1) << result.output;
    EXPECT_NE(result.output.find("\"status\":\"different\""), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("\"differingPixels\":1,"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("\"box\":{\"x\":19999,\"y\":19999,\"width\":1,\"height\":1}"), std::string::npos)
        << result.output;
    EXPECT_TRUE(FileExists(Path("d.png")));
    for (const char* picture : {"0-a.png", "0-b.png", "0-difference.png", "0-highlight.png"}) {
        EXPECT_TRUE(FileExists(Path("report/pictures/") + picture)) << picture;
    }
}
