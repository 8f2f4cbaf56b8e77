// The worker's sandbox, entered in a child process of the test: what it
// must refuse, and what decoding into files already open still needs.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "support/files.h"

namespace {

// One bit for each thing the sandboxed child could do that it should not,
// or could not do that it should.
enum Escape : unsigned {
    kOpenedAFile = 1u << 0,
    kCreatedAFile = 1u << 1,
    kRenamedAFile = 1u << 2,
    kRemovedAFile = 1u << 3,
    kOpenedASocket = 1u << 4,
    kStartedAProgram = 1u << 5,
    kSignalledItsParent = 1u << 6,
    kMadeAProcess = 1u << 7,
    kCouldNotReadWhatItHeld = 1u << 8,
    kCouldNotWriteWhatItHeld = 1u << 9,
};

unsigned TryEverything(const std::string& existing, std::FILE* held, std::FILE* output) {
    unsigned escapes = 0;
    if (std::FILE* file = std::fopen(existing.c_str(), "rb")) {
        escapes |= kOpenedAFile;
        std::fclose(file);
    }
    if (std::FILE* file = std::fopen((existing + ".new").c_str(), "wb")) {
        escapes |= kCreatedAFile;
        std::fclose(file);
    }
    if (std::rename(existing.c_str(), (existing + ".moved").c_str()) == 0) {
        escapes |= kRenamedAFile;
    }
    if (std::remove(existing.c_str()) == 0) {
        escapes |= kRemovedAFile;
    }
    if (socket(AF_INET, SOCK_STREAM, 0) >= 0) {
        escapes |= kOpenedASocket;
    }
    execl("/bin/true", "true", static_cast<char*>(nullptr));
    if (kill(getppid(), 0) == 0) {
        escapes |= kSignalledItsParent;
    }
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    if (child > 0) {
        escapes |= kMadeAProcess;
    }
    char byte = 0;
    if (std::fread(&byte, 1, 1, held) != 1 || byte != 'x') {
        escapes |= kCouldNotReadWhatItHeld;
    }
    if (std::fputs("written", output) < 0 || std::fflush(output) != 0) {
        escapes |= kCouldNotWriteWhatItHeld;
    }
    // Memory and threads, which decoders use, keep working (a failure
    // here ends the child with a signal). AddressSanitizer sets up a new
    // thread by reading /proc/self/maps, which the sandbox refuses, so
    // under it only memory is tried.
    std::string big(std::size_t{64} << 20, 'm');
#if !GLIMRA_UNDER_ASAN
    std::thread thread([&] { big[0] = 'n'; });
    thread.join();
#endif
    return escapes;
}

TEST(Sandbox, ShutsTheWorkerInWithWhatItHolds) {
    const std::string dir = ::testing::TempDir();
    const std::string existing = dir + "glimra_sandbox_existing";
    const std::string written = dir + "glimra_sandbox_written";
    // What an earlier failed run may have left would pass for an escape.
    std::remove((existing + ".new").c_str());
    std::remove((existing + ".moved").c_str());
    WriteFileBytes(existing, "x");
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    if (child == 0) {
        std::FILE* held = std::fopen(existing.c_str(), "rb");
        std::FILE* output = std::fopen(written.c_str(), "wb");
        if (held == nullptr || output == nullptr || !EnterSandbox()) {
            _exit(100);
        }
        const unsigned escapes = TryEverything(existing, held, output);
        _exit(write(report[1], &escapes, sizeof escapes) == sizeof escapes ? 0 : 101);
    }
    close(report[1]);
    unsigned escapes = ~0u;
    const ssize_t got = read(report[0], &escapes, sizeof escapes);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0) << "100: no sandbox here; anything else: started a program";
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof escapes));
    EXPECT_EQ(escapes, 0u);
    EXPECT_EQ(ReadFileBytes(existing), "x");
    EXPECT_EQ(ReadFileBytes(written), "written");
    EXPECT_FALSE(FileExists(existing + ".new"));
    std::remove(existing.c_str());
    std::remove(written.c_str());
}

}  // namespace
