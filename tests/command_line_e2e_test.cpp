// The command-line rules and the messages of a comparison run, seen as a
// script sees them: standard output and exit status.
#include "support/e2e_fixture.h"

namespace {

const std::string kBothNames = "Must give both the image filenames!";

class CommandLine : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        SavePicture(Path("a.png"), PatternPixels(8, 5, 1));
        SavePicture(Path("b.png"), PatternPixels(8, 5, 2));
        SavePicture(Path("wide.png"), PatternPixels(5, 8, 3));
    }
};

TEST_F(CommandLine, BadCommandLinesPrintUsageAndFail) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, kBothNames},
        {{Path("a.png")}, kBothNames},
        {{"-v", Path("a.png"), "-x"}, kBothNames},
        {{"-q"}, "Unknown flag -q"},
        {{"-q", Path("a.png"), Path("b.png")}, "Unknown flag -q"},
        // Parsing stops at the unknown flag, before the file names count.
        {{Path("a.png"), Path("b.png"), "-q"}, "Unknown flag -q"},
        {{"-"}, "Unknown flag -"},
        {{"-V", "-v"}, "Unknown flag -V"},
        {{Path("a.png"), "--verbose", Path("b.png")}, "Unknown flag --verbose"},
        {{"-q", "-z"}, "Unknown flag -q"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = Run(c.args);
        EXPECT_EQ(result.exitStatus, 1) << c.message;
        EXPECT_EQ(Normalised(result.output), UsageText(c.message));
    }
}

TEST_F(CommandLine, LongOptions) {
    // --help: the usage text, then every option in its group.
    ProcessResult result = Run({"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    const std::string usage = UsageText("").substr(2);
    EXPECT_EQ(Normalised(result.output).substr(0, usage.size()), usage);
    for (const char* expected :
         {"\nA single pair:\n", "\nMany pairs:\n", "\nReports:\n", "\nLimits:\n", "  -v ", "  -d ", "  -x ",
          "  --highlight ", "  --ignore-alpha ", "  --pairs=LIST ", "  --jobs=N ", "  --shard=K/N ", "  --json ",
          "  --junit=FILE ", "  --timeout=SECONDS ", "  --max-memory=SIZE ", "  --max-pixels=N ", "  --help ",
          "  --version "}) {
        EXPECT_NE(result.output.find(expected), std::string::npos) << expected;
    }
    result = Run({Path("a.png"), "--version", "-q"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "glimra " GLIMRA_VERSION "\n");

    for (const std::string bad : {"--timeout=", "--timeout=-1", "--timeout=1.5", "--timeout",
                                  "--max-memory=2X", "--max-memory=G", "--max-memory=99999999999T",
                                  "--max-pixels=ten", "--shard=0/2", "--shard=3/2", "--shard=x", "--shard=",
                                  "--shard=1/", "--shard=/2", "--threshold=2", "--threshold=-0.1",
                                  "--threshold=x", "--threshold=", "--threshold", "--threshold=1e-1",
                                  "--threshold=.", "--threshold=0.1.2", "--threshold=nan", "--antialiasing=1"}) {
        result = Run({Path("a.png"), Path("b.png"), bad});
        EXPECT_EQ(result.exitStatus, 1) << bad;
        EXPECT_EQ(Normalised(result.output), UsageText("Invalid value in " + bad)) << bad;
    }
    for (const std::string unknown : {"--frobnicate", "--help=1", "--time-out=3", "--"}) {
        result = Run({Path("a.png"), Path("b.png"), unknown});
        EXPECT_EQ(result.exitStatus, 1) << unknown;
        EXPECT_EQ(Normalised(result.output), UsageText("Unknown flag " + unknown)) << unknown;
    }
    // Good values change nothing of an ordinary run.
    result = Run({"--timeout=0", "--max-memory=2G", "--max-pixels=0", Path("a.png"), Path("b.png"),
                  "--max-memory=512m", "--timeout=60", "--max-pixels=40"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
}

TEST_F(CommandLine, UnknownFlagLoadsNoPicture) {
    const ProcessResult result = Run({Path("missing.png"), Path("missing2.png"), "-q"});
    EXPECT_EQ(Normalised(result.output), UsageText("Unknown flag -q"));
}

TEST_F(CommandLine, UsageDateHasTheBuildDateForm) {
    const std::string output = Run({}).output;
    EXPECT_NE(Normalised(output), output) << output;
}

TEST_F(CommandLine, AnswersWithTheExitStatus) {
    EXPECT_EQ(Run({Path("a.png"), Path("a.png")}).exitStatus, 0);
    EXPECT_EQ(Run({Path("a.png"), Path("b.png")}).exitStatus, 1);
    // Without -v a comparison prints nothing at all.
    EXPECT_EQ(Run({Path("a.png"), Path("a.png")}).output, "");
    EXPECT_EQ(Run({Path("a.png"), Path("b.png"), Path("d.png")}).output, "");
}

TEST_F(CommandLine, VerboseLinesComeInPhaseOrder) {
    ProcessResult result = Run({"-v", Path("a.png"), Path("b.png"), Path("d.png")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\n"
              "Images differ\n"
              "Perform diff took T ms\n"
              "Save diff image took T ms\n");

    result = Run({Path("a.png"), Path("b.png"), "-v"});
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\n"
              "Images differ\n"
              "Perform diff took T ms\n");

    result = Run({Path("a.png"), "-verbose", Path("a.png"), Path("d2.png")});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\n"
              "Images are identical\n"
              "Perform diff took T ms\n");
    EXPECT_FALSE(FileExists(Path("d2.png")));
}

TEST_F(CommandLine, IdenticalPicturesLeaveAnEarlierOutputUntouched) {
    WriteFileBytes(Path("d.png"), "earlier file");
    EXPECT_EQ(Run({Path("a.png"), Path("a.png"), Path("d.png")}).exitStatus, 0);
    EXPECT_EQ(ReadFileBytes(Path("d.png")), "earlier file");
}

TEST_F(CommandLine, ByteIdenticalFilesAnswerAsTwoLoadsWould) {
    GLIMRA_TEST_NEEDS("picture-library");
    // Two files with the same bytes are decoded once; what a caller sees
    // must be what the same pixels in other file bytes give.
    WriteFileBytes(Path("copy.png"), ReadFileBytes(Path("a.png")));
    WriteRawBmp24(Path("same-pixels.bmp"), ReadPicture(Path("a.png")));
    const ProcessResult copy = Run({"-v", Path("a.png"), Path("copy.png"), Path("d.png")});
    const ProcessResult other = Run({"-v", Path("a.png"), Path("same-pixels.bmp"), Path("d.png")});
    EXPECT_EQ(copy.exitStatus, 0);
    EXPECT_EQ(Normalised(copy.output), Normalised(other.output));
    EXPECT_FALSE(FileExists(Path("d.png")));

    // An unreadable file given twice fails once, on the first load.
    const std::string png = ReadFileBytes(Path("a.png"));
    WriteFileBytes(Path("cut.png"), png.substr(0, png.size() / 2));
    WriteFileBytes(Path("cut2.png"), png.substr(0, png.size() / 2));
    for (const std::string& second : {Path("cut.png"), Path("cut2.png")}) {
        const ProcessResult result = Run({"-v", Path("cut.png"), second});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(Normalised(result.output),
                  "Failed to load " + Path("cut.png") + "\nLoad source images took T ms\n");
    }
}

TEST_F(CommandLine, ExtraFileNamesAreIgnored) {
    const ProcessResult result =
        Run({Path("a.png"), Path("b.png"), Path("d.png"), Path("fourth.png"), Path("fifth")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(FileExists(Path("d.png")));
    EXPECT_FALSE(FileExists(Path("fourth.png")));
}

TEST_F(CommandLine, EmptyArgumentIsAFileName) {
    const ProcessResult result = Run({"", Path("a.png")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Unknown fileformat for \n");
}

TEST_F(CommandLine, LastModeFlagWins) {
    // With a black second picture the absolute difference is the first
    // picture itself and the xor is too, so a picture with a byte of its
    // own in the second one tells the modes apart.
    Pixels24 first = BlackPixels(2, 1);
    Pixels24 second = BlackPixels(2, 1);
    first.bytes[0] = 10;
    second.bytes[0] = 250;
    first.bytes[1] = 0x0F;
    second.bytes[1] = 0xF0;
    SavePicture(Path("p.png"), first);
    SavePicture(Path("q.png"), second);

    const auto diffBytes = [&](const std::vector<std::string>& flags) {
        std::vector<std::string> args = {Path("p.png"), Path("q.png"), Path("out.png")};
        args.insert(args.end(), flags.begin(), flags.end());
        EXPECT_EQ(Run(args).exitStatus, 1);
        const Pixels24 out = ReadPicture(Path("out.png"));
        return std::vector<int>{out.bytes[0], out.bytes[1]};
    };
    const std::vector<int> absDelta = {240, 0xE1};
    const std::vector<int> exclusiveOr = {0x0A ^ 0xFA, 0xFF};
    EXPECT_EQ(diffBytes({}), absDelta);
    EXPECT_EQ(diffBytes({"-x"}), exclusiveOr);
    EXPECT_EQ(diffBytes({"-x", "-d"}), absDelta);
    EXPECT_EQ(diffBytes({"-d", "-x"}), exclusiveOr);
    // Only the second character counts: -dx is -d, -xd is -x.
    EXPECT_EQ(diffBytes({"-x", "-dx"}), absDelta);
    EXPECT_EQ(diffBytes({"-xd"}), exclusiveOr);
}

TEST_F(CommandLine, DimensionMismatchFails) {
    ProcessResult result = Run({Path("a.png"), Path("wide.png"), Path("d.png")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Dimensions of the images don't match!\n");
    EXPECT_FALSE(FileExists(Path("d.png")));

    // The size check lies between the phases: no "Perform diff" line.
    result = Run({Path("a.png"), Path("wide.png"), "-v"});
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\n"
              "Dimensions of the images don't match!\n");
}

TEST_F(CommandLine, LoadFailuresNameTheFile) {
    GLIMRA_TEST_NEEDS("picture-library");
    WriteFileBytes(Path("text.png"), "just some words, not a picture\n");
    WriteFileBytes(Path("empty.png"), "");
    const std::string png = ReadFileBytes(Path("a.png"));
    WriteFileBytes(Path("truncated.png"), png.substr(0, png.size() / 2));

    struct Case {
        std::string file;
        std::string message;
    };
    const std::vector<Case> cases = {
        {Path("missing.png"), "Unknown fileformat for " + Path("missing.png")},
        {Path("text.png"), "Unknown fileformat for " + Path("text.png")},
        {Path("empty.png"), "Unknown fileformat for " + Path("empty.png")},
        {dir, "Unknown fileformat for " + dir},
        {Path("truncated.png"), "Failed to load " + Path("truncated.png")},
    };
    for (const Case& c : cases) {
        ProcessResult result = Run({c.file, Path("a.png"), Path("d.png")});
        EXPECT_EQ(result.exitStatus, 1) << c.file;
        EXPECT_EQ(result.output, c.message + "\n");

        // The second picture fails after the first one loaded; the failed
        // phase still reports its time, after the failure.
        result = Run({Path("a.png"), c.file, Path("d.png"), "-v"});
        EXPECT_EQ(result.exitStatus, 1) << c.file;
        EXPECT_EQ(Normalised(result.output), c.message + "\nLoad source images took T ms\n");
        EXPECT_FALSE(FileExists(Path("d.png")));
    }
}

TEST_F(CommandLine, LongMessagesAreCutAt1023Characters) {
    const std::string longName(3000, 'n');
    const ProcessResult result = Run({longName, Path("a.png")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, ("Unknown fileformat for " + longName).substr(0, 1023) + "\n");
}

}  // namespace
