// Files on which the picture library itself misbehaves: it crashes, reads
// memory it never wrote, or takes minutes and gigabytes for a few bytes.
// The worker fences all of it: every run ends with a message and status 1
// (or, for pixels the library made up, an ordinary answer), never with a
// signal, within its limits.
//
// Labelled "library-faults": memory checkers report the library's own
// faults here on every run, and AddressSanitizer takes its crashes over
// and ends the worker its own way, so those CI steps leave these out.
#include "support/e2e_fixture.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

using LibraryFaults = EndToEnd;

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Found by mutating small TGA and ICO headers: the library dies of a
// segmentation fault on each (RLE packets past the picture; a directory
// entry pointing into itself).
const char* const kCrashingTga =
    "00010aff00000110000000002c01400010000c24693de7ff0da96dc55805a730609e06fbd5748d9be99a7f456b"
    "afd647c95a92c72c1cb8e3b6d5";
const char* const kCrashingIco =
    "000001000100010000000100200000000000160000000c0000001000000002000000010021000100000000000000"
    "000000000000000002000000000000000fd9c938953d2b6f777c1f7d25ac32156e599baf2bec5d05a2d2d0102d7d"
    "4b554db047686570a92201f513fea823206519bbd22fb253fcfe45849b1b";
// An icon whose bitmap header claims 268500993 x 8 pixels: the library
// takes ten seconds and eight gigabytes over it.
const char* const kHungryIco =
    "000001000100011010000000000000000000000000000c00000070110100020000000100210003000000000000"
    "000000000000000000a0860100000000005d67a0ad0d43acbe2124";
// Headers alone, claiming 30000 x 30000 pixels (2.7 GB in 24-bit form):
// the library allocates and fills all of it from a file of 54 or 28 bytes.
const char* const kHugeBmp =
    "424d36000000000000003600000028000000307500003075000001001800000000000000000000000000000000"
    "000000000000000000";
const char* const kHugeTga = "00000200000000000000000030753075180000000000000000000000";

TEST_F(LibraryFaults, CrashesInTheLibraryEndAsLoadFailures) {
    WriteFileBytes(Path("crash.tga"), FromHex(kCrashingTga));
    WriteFileBytes(Path("crash.ico"), FromHex(kCrashingIco));
    SavePicture(Path("good.png"), PatternPixels(5, 5));
    for (const char* name : {"crash.tga", "crash.ico"}) {
        const ProcessResult result = Run({Path("good.png"), Path(name), Path("d.png"), "-v"});
        EXPECT_EQ(result.signal, 0) << name;
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(Normalised(result.output),
                  "Failed to load " + Path(name) + "\nLoad source images took T ms\n");
        EXPECT_EQ(result.errors, "") << name;
    }
    EXPECT_FALSE(FileExists(Path("d.png")));
    EXPECT_TRUE(TempFilesIn(dir).empty());
}

TEST_F(LibraryFaults, ACrashFailsOnlyItsOwnPairOfABatch) {
    for (const char* side : {"a", "b"}) {
        std::filesystem::create_directories(Path(side));
        SavePicture(Path(std::string(side) + "/first.png"), PatternPixels(5, 5));
        SavePicture(Path(std::string(side) + "/last.png"), PatternPixels(5, 5));
        WriteFileBytes(Path(std::string(side) + "/middle.tga"), FromHex(kCrashingTga));
    }
    // Not the same bytes on both sides, so that both are decoded.
    WriteFileBytes(Path("b/middle.tga"), FromHex(kCrashingTga) + "x");
    const ProcessResult result = Run({Path("a"), Path("b"), "--jobs=2"});
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "failed: middle.tga: Failed to load " + Path("a/middle.tga") + "\n"
                             "3 pairs: 2 identical, 0 different, 1 failed, 0 only in A, 0 only in B\n");
}

TEST_F(LibraryFaults, HungryHeadersEndWithinTheirLimits) {
    WriteFileBytes(Path("hungry.ico"), FromHex(kHungryIco));
    WriteFileBytes(Path("huge.bmp"), FromHex(kHugeBmp));
    WriteFileBytes(Path("huge.tga"), FromHex(kHugeTga));
    for (const char* name : {"hungry.ico", "huge.bmp", "huge.tga"}) {
        const std::string path = Path(name);
        // Under the address-space limit the library's allocation fails.
        ProcessResult result = Run({"--max-pixels=0", "--max-memory=1G", path, path});
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(result.output, "Failed to load " + path + "\n");
        // Given the memory, they run into the time limit instead.
        const auto start = std::chrono::steady_clock::now();
        result = Run({"--max-pixels=0", "--timeout=1", path, path, "-v"});
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15)) << name;
        EXPECT_EQ(result.signal, 0) << name;
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(Normalised(result.output),
                  "Timed out after 1 s loading " + path + "\nLoad source images took T ms\n");
    }
    // By default the icon's header is refused before anything is decoded.
    const ProcessResult result = Run({Path("hungry.ico"), Path("hungry.ico")});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Too many pixels in " + Path("hungry.ico") +
                                 ": 268500993x8 is more than the limit of 1073741824\n");
}

TEST_F(LibraryFaults, TgaCutInsideItsFirstRowStillDiffers) {
    // The library's TGA loader leaves the pixels of such a file partly
    // uninitialised (valgrind shows it); the answer must still be
    // "differ", never a signal.
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

// An icon whose header promises far more pixels (68 KB) than the loader
// allocates for them (1.6 KB), in a file that ends after 28 bytes: the
// loader asks for those bytes, the file has none, and nothing may be
// written for them. The loader then makes up a 24x8 picture from its
// zeroed bitmap, the same on every run, as it does for other cut files
// (reading memory it never wrote, which memcheck shows). A write past the
// loader's buffer corrupted the heap instead, and the file failed to load.
TEST_F(LibraryFaults, AReadBeyondTheLoadersBufferWritesNothingThere) {
    WriteFileBytes(Path("promise.ico"), FromHex("0000010018000000100000000000130b000000000000000000000000"));
    const ProcessResult result = Run({Path("promise.ico"), Path("promise.ico"), "-v"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(Normalised(result.output), "Load source images took T ms\nImages are identical\nPerform diff took T ms\n");
}

// The files of another project's test suite that the library misbehaves
// on, from the shared folder beside this repository (skipped without it).
std::string SharedFault(const char* name) { return std::string(GLIMRA_LIBRARY_FAULTS_DIR) + "/" + name; }

TEST_F(LibraryFaults, ABrokenHeaderGivesTheSameAnswerEveryRun) {
    // The library parses a header from past the end of this 6-byte file.
    const std::string source = SharedFault("bad-header.ico");
    if (!FileExists(source)) {
        GTEST_SKIP() << source << " is not here";
    }
    WriteFileBytes(Path("bad.ico"), ReadFileBytes(source));
    const ProcessResult first = Run({Path("bad.ico"), Path("bad.ico")});
    EXPECT_EQ(first.exitStatus, 1);
    for (int i = 0; i < 19; ++i) {
        const ProcessResult again = Run({Path("bad.ico"), Path("bad.ico")});
        ASSERT_EQ(again.output, first.output) << "run " << i + 2;
        ASSERT_EQ(again.exitStatus, first.exitStatus);
    }
}

TEST_F(LibraryFaults, AnEndlessDecodeEndsWithinTheDefaultTime) {
    // 69 bytes declaring 22627 x 26435 pixels: the library loops for
    // minutes.
    const std::string source = SharedFault("overflow.tga");
    if (!FileExists(source)) {
        GTEST_SKIP() << source << " is not here";
    }
    WriteFileBytes(Path("overflow.tga"), ReadFileBytes(source));
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = Run({Path("overflow.tga"), Path("overflow.tga")});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.output, "Timed out after 45 s loading " + Path("overflow.tga") + "\n");
}

TEST_F(LibraryFaults, AWorkerDiesWithItsParent) {
    const std::string source = SharedFault("overflow.tga");
    if (!FileExists(source)) {
        GTEST_SKIP() << source << " is not here";
    }
    WriteFileBytes(Path("overflow.tga"), ReadFileBytes(source));
    RunningProcess run = StartProcess(std::getenv("GLIMRA_BINARY"), {Path("overflow.tga"), Path("overflow.tga")});
    const long worker = WorkerOf(run);
    ASSERT_GT(worker, 0);
    // The library is busy with the file; the parent goes without a word.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(static_cast<pid_t>(run.id), SIGKILL);
    FinishProcess(run);
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(worker); }, 2)) << "worker " << worker << " is left";
}

}  // namespace
