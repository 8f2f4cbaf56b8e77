// --update accepts B as the new reference: every pair that differs (sizes
// included) and every picture only in B is copied to A's path, whole and
// with A's permission bits; nothing else is touched.
#include "support/e2e_fixture.h"

#include <sys/stat.h>

#include <filesystem>

#include "support/files.h"

namespace {

class Update : public EndToEnd {
protected:
    // A and B trees with one pair of every kind.
    void MakeTrees() {
        std::filesystem::create_directories(Path("A"));
        std::filesystem::create_directories(Path("B/new"));
        const Pixels24 base = PatternPixels(40, 30, 1);
        Pixels24 changed = base;
        changed.At(3, 4)[0] ^= 0x80;
        Pixels24 nudged = base;
        nudged.At(5, 5)[1] ^= 1;
        SavePicture(Path("A/identical.png"), base);
        SavePicture(Path("B/identical.png"), base);
        SavePicture(Path("A/different.png"), base);
        SavePicture(Path("B/different.png"), changed);
        SavePicture(Path("A/taller.png"), base);
        SavePicture(Path("B/taller.png"), PatternPixels(40, 50, 1));
        SavePicture(Path("A/similar.png"), base);
        SavePicture(Path("B/similar.png"), nudged);
        WriteFileBytes(Path("A/broken.png"), ReadFileBytes(Path("A/identical.png")).substr(0, 60));
        SavePicture(Path("B/broken.png"), changed);
        SavePicture(Path("A/only-a.png"), base);
        SavePicture(Path("B/new/only-b.png"), changed);
        chmod(Path("A/different.png").c_str(), 0640);
    }
};

TEST_F(Update, CopiesWhatDiffersAndWhatIsNewAndNothingElse) {
    GLIMRA_TEST_NEEDS("picture-library");
    GLIMRA_TEST_NEEDS("permission-bits");
    MakeTrees();
    const std::string before[] = {ReadFileBytes(Path("A/identical.png")), ReadFileBytes(Path("A/similar.png")),
                                  ReadFileBytes(Path("A/broken.png")), ReadFileBytes(Path("A/only-a.png"))};
    const ProcessResult result = Run({Path("A"), Path("B"), "--update", "--tolerance=1"});
    EXPECT_EQ(result.exitStatus, 1) << "a pair failed and one is only in A";
    EXPECT_EQ(Normalised(result.output),
              "failed: broken.png: Failed to load " + Path("A/broken.png") + "\n"
              "updated: different.png\n"
              "updated: new/only-b.png\n"
              "only in A: only-a.png\n"
              "similar: similar.png: 0 pixels\n"
              "updated: taller.png\n"
              "7 pairs: 1 identical, 1 similar, 2 different, 1 failed, 1 only in A, 1 only in B, 3 updated\n");
    for (const char* name : {"different.png", "taller.png", "new/only-b.png"}) {
        EXPECT_EQ(ReadFileBytes(Path(std::string("A/") + name)), ReadFileBytes(Path(std::string("B/") + name))) << name;
    }
    EXPECT_EQ(ReadFileBytes(Path("A/identical.png")), before[0]);
    EXPECT_EQ(ReadFileBytes(Path("A/similar.png")), before[1]) << "similar pairs pass as they are";
    EXPECT_EQ(ReadFileBytes(Path("A/broken.png")), before[2]) << "failed pairs are not touched";
    EXPECT_EQ(ReadFileBytes(Path("A/only-a.png")), before[3]);
    struct stat info {};
    ASSERT_EQ(stat(Path("A/different.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "A's permission bits are kept";
    EXPECT_TRUE(TempFilesIn(Path("A")).empty());

    // Once the reference is what B holds, the same run passes.
    std::filesystem::remove(Path("A/broken.png"));
    std::filesystem::remove(Path("B/broken.png"));
    std::filesystem::remove(Path("A/only-a.png"));
    const ProcessResult again = Run({Path("A"), Path("B"), "--update", "--json", "--tolerance=1"});
    EXPECT_EQ(again.exitStatus, 0) << again.output;
    EXPECT_EQ(again.output.find("\"updated\":true"), std::string::npos) << "nothing was left to update";
}

TEST_F(Update, JsonMarksUpdatedPairsAndStatusZeroNeedsEveryOneUpdated) {
    MakeTrees();
    std::filesystem::remove(Path("A/broken.png"));
    std::filesystem::remove(Path("B/broken.png"));
    std::filesystem::remove(Path("A/only-a.png"));
    const ProcessResult result = Run({Path("A"), Path("B"), "--update", "--json"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.output.find("\"name\":\"taller.png\",\"a\":\"" + Path("A/taller.png") + "\",\"b\":\"" +
                                 Path("B/taller.png") + "\",\"diff\":null,\"status\":\"different\",\"reason\":\"size\","
                                 "\"sizeA\":[40,30],\"sizeB\":[40,50],\"updated\":true"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("\"status\":\"missing\",\"missing\":\"a\",\"updated\":true"), std::string::npos);
}

// A single pair works the same way; one that is identical is left alone.
TEST_F(Update, ASinglePairIsUpdatedToo) {
    SavePicture(Path("a.png"), PatternPixels(20, 20, 1));
    SavePicture(Path("b.png"), PatternPixels(20, 20, 2));
    ProcessResult result = Run({Path("a.png"), Path("b.png"), "--update", "-v"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(Normalised(result.output), "Load source images took T ms\nImages differ\nPerform diff took T ms\n"
                                         "updated: " + Path("a.png") + " " + Path("b.png") + "\n");
    EXPECT_EQ(ReadFileBytes(Path("a.png")), ReadFileBytes(Path("b.png")));
    result = Run({Path("a.png"), Path("b.png"), "--update"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    // A reference that is not there yet is made, folders and all.
    result = Run({Path("new/ref.png"), Path("b.png"), "--update"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "updated: " + Path("new/ref.png") + " " + Path("b.png") + "\n");
    EXPECT_EQ(ReadFileBytes(Path("new/ref.png")), ReadFileBytes(Path("b.png")));
}

}  // namespace

namespace {

// A page that grew taller is a difference, not a failure, everywhere but
// in a single pair's own message.
TEST_F(Update, PicturesOfTwoSizesAreADifferenceInReports) {
    std::filesystem::create_directories(Path("A"));
    std::filesystem::create_directories(Path("B"));
    SavePicture(Path("A/page.png"), PatternPixels(40, 30, 1));
    SavePicture(Path("B/page.png"), PatternPixels(40, 50, 1));
    ProcessResult result = Run({Path("A"), Path("B"), "--junit=" + Path("junit.xml")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "different: page.png: size 40x30 against 40x50\n"
                             "1 pairs: 0 identical, 1 different, 0 failed, 0 only in A, 0 only in B\n");
    const std::string junit = ReadFileBytes(Path("junit.xml"));
    EXPECT_NE(junit.find("<failure type=\"different\" message=\"different: page.png: size 40x30 against 40x50\"/>"),
              std::string::npos) << junit;
    result = Run({Path("A/page.png"), Path("B/page.png")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Dimensions of the images don't match!\n");
}

}  // namespace
