// Running out of memory or of disk space ends a run like any other failure:
// one message, status 1, never a signal, never a half-written picture.
#include "support/e2e_fixture.h"

#include <csignal>
#include <regex>

namespace {

using Limits = EndToEnd;

constexpr std::uint64_t kMiB = 1024 * 1024;

TEST_F(Limits, AddressSpaceLimitNeverEndsInASignal) {
#if GLIMRA_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer's shadow memory cannot live under an address-space limit";
#endif
    // Grey PNGs compress to little on disk but take 108 MB each in 24-bit form,
    // so a limit between their sizes makes one allocation or another fail.
    const int side = 6000;
    SaveDepthPicture(Path("a.png"), side, side, 8, false, [](int x, int y) { return (x + y) & 0xFFu; });
    SaveDepthPicture(Path("b.png"), side, side, 8, false, [](int x, int y) { return (x ^ y) & 0xFFu; });

    const std::regex knownFailure(
        "(Out of memory for a 6000x6000 image|Failed to load .*/[ab]\\.png)\n|"
        "(Failed to create freeimage for .*/d\\.bmp\n|Failed to save .*/d\\.bmp)\n");
    bool sawOutOfMemory = false;
    for (std::uint64_t limit = 150 * kMiB; limit <= 650 * kMiB; limit += 50 * kMiB) {
        const ProcessResult result =
            Run({Path("a.png"), Path("b.png"), Path("d.bmp")}, {limit, 0});
        SCOPED_TRACE("limit " + std::to_string(limit / kMiB) + " MiB: " + result.output);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exitStatus, 1);
        if (!result.output.empty()) {
            EXPECT_TRUE(std::regex_match(result.output, knownFailure));
            sawOutOfMemory |= result.output.rfind("Out of memory", 0) == 0;
        }
    }
    EXPECT_TRUE(sawOutOfMemory) << "no limit in the sweep reached our own allocation";
}

TEST_F(Limits, FileSizeLimitOnSaveKeepsTheEarlierFile) {
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
    EXPECT_EQ(std::system(("test -z \"$(ls " + dir + " | grep tmp)\"").c_str()), 0)
        << "a temporary file was left behind";
}

TEST_F(Limits, FullDiskOnSaveKeepsTheEarlierFile) {
    const std::string disk = Path("disk");
    std::system(("mkdir -p " + disk).c_str());
    if (std::system(("mount -t tmpfs -o size=256k tmpfs " + disk + " 2>/dev/null").c_str()) != 0) {
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
    const bool leftovers =
        std::system(("test -z \"$(ls " + disk + " | grep tmp)\"").c_str()) != 0;
    std::system(("umount " + disk).c_str());
    EXPECT_FALSE(leftovers) << "a temporary file was left behind";
}

}  // namespace
