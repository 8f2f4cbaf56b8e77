// The worker that does a run's loading, comparing and encoding: killed in
// a phase, out of time, or past a limit, the run still ends with its
// message and status 1, never a signal and never a file left behind.
#include "support/e2e_fixture.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <sys/stat.h>

namespace {

using Worker = EndToEnd;

TEST_F(Worker, KilledWhileLoadingItSaysWhichFileFailed) {
    GLIMRA_TEST_NEEDS("workers");
    // A named pipe nobody writes to: the worker waits on it for ever.
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    SavePicture(Path("b.png"), PatternPixels(8, 8));
    RunningProcess run = StartProcess(std::getenv("GLIMRA_BINARY"),
                                      {"-v", Path("pipe.png"), Path("b.png"), Path("d.png")});
    const long worker = WorkerOf(run);
    ASSERT_GT(worker, 0);
    kill(static_cast<pid_t>(worker), SIGKILL);
    const ProcessResult result = FinishProcess(run);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Failed to load " + Path("pipe.png") + "\nLoad source images took T ms\n");
    EXPECT_FALSE(FileExists(Path("d.png")));
    EXPECT_TRUE(TempFilesIn(dir).empty());
}

TEST_F(Worker, KilledWhileSavingItLeavesNoFile) {
    GLIMRA_TEST_NEEDS("workers");
    // Noise does not compress: the library's TIFF encoder writes 75 MB of
    // it strip by strip for about a second.
    WriteRawBmp24(Path("a.bmp"), PatternPixels(5000, 5000, 1));
    WriteRawBmp24(Path("b.bmp"), PatternPixels(5000, 5000, 2));
    WriteFileBytes(Path("d.tif"), "earlier file");
    RunningProcess run = StartProcess(std::getenv("GLIMRA_BINARY"),
                                      {"-v", Path("a.bmp"), Path("b.bmp"), Path("d.tif")});
    // The encoder has begun once the temporary file beside d.tif grows.
    ASSERT_TRUE(WaitUntil([&] {
        for (const std::string& name : TempFilesIn(dir)) {
            std::error_code error;
            if (std::filesystem::file_size(Path(name), error) > 0 && !error) {
                return true;
            }
        }
        return false;
    }));
    // The worker that is writing it, asked now: on a loaded machine the
    // first one found may not be the one still running.
    const long worker = WorkerOf(run);
    ASSERT_GT(worker, 0);
    ASSERT_EQ(kill(static_cast<pid_t>(worker), SIGKILL), 0);
    const ProcessResult result = FinishProcess(run);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\nImages differ\nPerform diff took T ms\n"
              "Failed to save " + Path("d.tif") + "\nSave diff image took T ms\n");
    EXPECT_EQ(ReadFileBytes(Path("d.tif")), "earlier file");
    EXPECT_TRUE(TempFilesIn(dir).empty());
}

TEST_F(Worker, RunOutOfTimeItSaysWhereItWas) {
    GLIMRA_TEST_NEEDS("workers");
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    SavePicture(Path("a.png"), PatternPixels(8, 8));
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result =
        Run({"--timeout=1", Path("a.png"), Path("pipe.png"), Path("d.png"), "-v"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Timed out after 1 s loading " + Path("pipe.png") + "\nLoad source images took T ms\n");
    EXPECT_TRUE(TempFilesIn(dir).empty());
}

TEST_F(Worker, PicturesBeyondThePixelLimitAreRefusedBeforeDecoding) {
    GLIMRA_TEST_NEEDS("picture-library");
    const Pixels24 pixels = PatternPixels(100, 50);
    SavePicture(Path("a.png"), pixels);
    WriteRawBmp24(Path("a.bmp"), pixels);
    SavePicture(Path("a.tif"), pixels);
    SavePicture(Path("a.ppm"), pixels);
    for (const char* name : {"a.png", "a.bmp", "a.tif", "a.ppm"}) {
        ProcessResult result = Run({"--max-pixels=4999", Path(name), Path(name), "-v"});
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(Normalised(result.output), "Too many pixels in " + Path(name) +
                                                 ": 100x50 is more than the limit of 4999\n"
                                                 "Load source images took T ms\n");
        result = Run({"--max-pixels=5000", Path(name), Path("a.png")});
        EXPECT_EQ(result.exitStatus, 0) << name << ": " << result.output;
    }
}

TEST_F(Worker, AnInterruptedBatchLeavesNothingHalfWrittenAndDiesByTheSignal) {
    GLIMRA_TEST_NEEDS("workers");
    // BMP pictures named .png: their difference pictures are PNG files,
    // and noise takes a while to encode.
    std::filesystem::create_directories(Path("a"));
    std::filesystem::create_directories(Path("b"));
    // Small enough that one is in place within seconds even under valgrind.
    for (int i = 0; i < 12; ++i) {
        const std::string name = std::to_string(i) + ".png";
        WriteRawBmp24(Path("a/" + name), PatternPixels(1000, 1000, 1 + i));
        WriteRawBmp24(Path("b/" + name), PatternPixels(1000, 1000, 50 + i));
    }
    RunningProcess run = StartProcess(std::getenv("GLIMRA_BINARY"),
                                      {"--jobs=2", Path("a"), Path("b"), Path("out")});
    // Once one picture is in place and another is being written.
    const auto placedAndWriting = [&] {
        std::size_t placed = 0;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(Path("out"), error)) {
            placed += entry.path().extension() == ".png" ? 1 : 0;
        }
        return placed > 0 && !TempFilesIn(Path("out")).empty();
    };
    ASSERT_TRUE(WaitUntil(placedAndWriting));
    const std::vector<long> workers = ChildrenOf(run.id);
    kill(static_cast<pid_t>(run.id), SIGTERM);
    const ProcessResult result = FinishProcess(run);
    EXPECT_EQ(result.signal, SIGTERM);
    EXPECT_TRUE(TempFilesIn(Path("out")).empty());
    for (const long worker : workers) {
        EXPECT_TRUE(WaitUntil([&] { return ProcessGone(worker); }, 2)) << "worker " << worker << " is left";
    }
    for (const auto& entry : std::filesystem::directory_iterator(Path("out"))) {
        const Pixels24 picture = ReadPicture(entry.path().string());
        EXPECT_EQ(picture.width, 1000) << entry.path();
    }
}

}  // namespace
