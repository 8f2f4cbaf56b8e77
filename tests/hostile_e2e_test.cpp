// Files a hostile or careless sender may hand over: cut short or garbled
// after their magic number. Every run ends with status 0 or 1 and one of
// the tool's messages (or a correct answer), never with a signal and never
// with a false "identical". (Files too big for the memory at hand are in
// resource_limits_e2e_test.cpp.)
#include "support/e2e_fixture.h"

namespace {

enum class Outcome { UnknownFormat, FailedToLoad, Differ, Identical, Other };

const char* Name(Outcome outcome) {
    switch (outcome) {
    case Outcome::UnknownFormat: return "unknown format";
    case Outcome::FailedToLoad: return "failed to load";
    case Outcome::Differ: return "differ";
    case Outcome::Identical: return "identical";
    default: return "something else";
    }
}

// Classifies a verbose run of `reference` against `other`.
Outcome Classify(const ProcessResult& result, const std::string& other) {
    const std::string output = Normalised(result.output);
    if (result.exitStatus == 1 &&
        output == "Unknown fileformat for " + other + "\nLoad source images took T ms\n") {
        return Outcome::UnknownFormat;
    }
    if (result.exitStatus == 1 &&
        output == "Failed to load " + other + "\nLoad source images took T ms\n") {
        return Outcome::FailedToLoad;
    }
    const std::string loaded = "Load source images took T ms\n";
    if (result.exitStatus == 1 && output == loaded + "Images differ\nPerform diff took T ms\n") {
        return Outcome::Differ;
    }
    if (result.exitStatus == 0 &&
        output == loaded + "Images are identical\nPerform diff took T ms\n") {
        return Outcome::Identical;
    }
    return Outcome::Other;
}

struct Format {
    const char* file;
    bool fillsIn;  // uncompressed: the library makes up the missing bytes
    // Cuts between the header and this length get pixels the library never
    // wrote (library_faults_e2e_test.cpp); 0 where there are none.
    std::size_t uninitialisedBelow;
};

// The TGA's header is 18 bytes and its first row 40 x 3.
constexpr std::size_t kTgaFirstRowEnd = 18 + 40 * 3;

const Format kFormats[] = {
    {"p.png", false, 0}, {"p.bmp", true, 0}, {"p.gif", false, 0}, {"p.tif", false, 0},
    {"p.jpg", false, 0}, {"p.tga", true, kTgaFirstRowEnd}, {"p.ppm", true, 0},
};

class Hostile : public EndToEnd {
protected:
    // The same 40 x 30 picture in every format the checks below cut short.
    void MakeEveryFormat() const {
        const Pixels24 pixels = PatternPixels(40, 30, 3);
        for (const char* name : {"p.png", "p.bmp", "p.tif", "p.jpg", "p.tga", "p.ppm"}) {
            SavePicture(Path(name), pixels);
        }
        SaveDepthPicture(Path("p.gif"), 40, 30, 8, true, [](int x, int y) {
            return static_cast<std::uint32_t>((x * 7 + y * 13) & 0xFF);
        });
    }
};

TEST_F(Hostile, TruncatedFilesFailOrDifferButNeverPassAsIdentical) {
    GLIMRA_TEST_NEEDS("picture-library");
    MakeEveryFormat();
    for (const Format& format : kFormats) {
        const std::string full = ReadFileBytes(Path(format.file));
        const std::string cut = Path(std::string("cut-") + format.file);
        // From inside the magic number to just before the end, where only
        // trailing bytes after the pixel data may be missing.
        const std::size_t size = full.size();
        for (std::size_t length : {std::size_t{1}, std::size_t{8}, std::size_t{20}, std::size_t{60},
                                   size / 4, size / 2, size * 3 / 4, size - 40, size - 1}) {
            if (length > 18 && length < format.uninitialisedBelow) {
                continue;
            }
            WriteFileBytes(cut, full.substr(0, length));
            const ProcessResult result = Run({Path(format.file), cut, "-v"});
            SCOPED_TRACE(std::string(format.file) + " cut to " + std::to_string(length) + " of " +
                         std::to_string(size) + " bytes: " + result.output);
            ASSERT_EQ(result.signal, 0);
            const Outcome outcome = Classify(result, cut);
            EXPECT_NE(outcome, Outcome::Other);
            if (length == 1) {
                EXPECT_EQ(outcome, Outcome::UnknownFormat);
            }
            if (length > 60 && length <= size * 3 / 4) {
                // Pixel data is missing here: never identical.
                EXPECT_TRUE(outcome == Outcome::FailedToLoad || outcome == Outcome::Differ)
                    << Name(outcome);
                if (format.fillsIn) {
                    EXPECT_EQ(outcome, Outcome::Differ) << Name(outcome);
                }
            }
        }
    }
}

TEST_F(Hostile, TruncatedUncompressedFilesAreFilledInByTheLibrary) {
    GLIMRA_TEST_NEEDS("picture-library");
    // The library reads what is there and makes up the rest: a cut BMP or
    // PNM equals the full file with its missing bytes zeroed (what a short
    // read does not fill is zero). A cut TGA is filled from the loader's
    // own read buffer. Either way the made-up picture is the same on every
    // run.
    MakeEveryFormat();
    for (const char* name : {"p.bmp", "p.ppm", "p.tga"}) {
        const std::string full = ReadFileBytes(Path(name));
        for (std::size_t length : {full.size() / 3, full.size() / 2 + 7}) {
            SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(length));
            WriteFileBytes(Path("cut"), full.substr(0, length));
            ProcessResult result = Run({Path("cut"), Path("cut")});
            EXPECT_EQ(result.exitStatus, 0) << result.output;
            if (std::string(name) == "p.tga") {
                continue;
            }
            std::string filledIn = full;
            std::fill(filledIn.begin() + static_cast<std::ptrdiff_t>(length), filledIn.end(), '\0');
            WriteFileBytes(Path("filled-in"), filledIn);
            result = Run({Path("cut"), Path("filled-in")});
            EXPECT_EQ(result.exitStatus, 0) << result.output;
            EXPECT_EQ(result.output, "");
        }
    }
}

TEST_F(Hostile, MagicNumberFollowedByGarbage) {
    GLIMRA_TEST_NEEDS("picture-library");
    const std::string garbage(200, '\x7f');
    const std::vector<std::string> magics = {
        std::string("\x89PNG\r\n\x1a\n", 8), "BM", "GIF89a", "II*", std::string("MM\0*", 4),
        "\xff\xd8\xff\xe0", "P6\n", "P6\n-5 -7\n255\n", "P6\n0 0\n255\n", "P3\n2 2\n9999999999\n"};
    int index = 0;
    for (const std::string& magic : magics) {
        const std::string name = Path("garbage" + std::to_string(index++));
        WriteFileBytes(name, magic + garbage);
        const ProcessResult result = Run({name, name, "-v"});
        SCOPED_TRACE("file starting with '" + magic.substr(0, 4) + "': " + result.output);
        ASSERT_EQ(result.signal, 0);
        const Outcome outcome = Classify(result, name);
        // Loading the same file twice gives the same picture, if any.
        EXPECT_TRUE(outcome == Outcome::UnknownFormat || outcome == Outcome::FailedToLoad ||
                    outcome == Outcome::Identical)
            << Name(outcome);
    }
}

}  // namespace
