// A TGA cut inside its first row: the library's loader hands over pixels it
// never wrote (valgrind shows it). The answer must still be "differ", never
// a signal. Labelled "uninitialised-pixels": a memory checker reports the
// library's finding here on every run, so its CI step leaves this out.
#include "support/e2e_fixture.h"

namespace {

using UninitialisedPixels = EndToEnd;

TEST_F(UninitialisedPixels, TgaCutInsideItsFirstRowStillDiffers) {
    SavePicture(Path("p.tga"), PatternPixels(40, 30, 3));
    const std::string full = ReadFileBytes(Path("p.tga"));
    // The header is 18 bytes and the first row 40 x 3.
    for (const std::size_t length : {std::size_t{20}, std::size_t{60}, std::size_t{18 + 40 * 3 - 1}}) {
        WriteFileBytes(Path("cut.tga"), full.substr(0, length));
        const ProcessResult result = Run({Path("p.tga"), Path("cut.tga"), "-v"});
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(Normalised(result.output),
                  "Load source images took T ms\nImages differ\nPerform diff took T ms\n")
            << "cut to " << length;
    }
}

}  // namespace
