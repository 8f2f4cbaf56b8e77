// Running out of disk space ends a run like any other failure: one message,
// status 1, never a signal, never a half-written picture. (Running out of
// memory is swept in the hostile-input tests.)
#include "support/e2e_fixture.h"

namespace {

using Limits = EndToEnd;

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
