// A picture whose 24-bit form passes 4 GiB: every size and offset on the way
// must be 64-bit, or the difference in the very last pixel goes unseen and
// the answer is a false "identical". Slow (about a minute) and needs some
// 13 GB of memory: two pictures and the difference, labelled "slow".
#include "support/e2e_fixture.h"
#include "support/hostile_files.h"

#include <sys/resource.h>

#include <chrono>
#include <iostream>

namespace {

using Huge = EndToEnd;

TEST_F(Huge, LastPixelOfAPictureBeyond4GiBCounts) {
    // 1,000,000 x 1432 x 3 = 4,296,000,000 bytes, just past 2^32; the
    // libraries' own width limit is 1,000,000.
    const std::uint32_t width = 1000000;
    const std::uint32_t height = 1432;
    WriteBlackPng(Path("a.png"), width, height, false);
    WriteBlackPng(Path("b.png"), width, height, true);

    const auto start = std::chrono::steady_clock::now();
    // Beyond the default pixel limit of 2^30: the limit is lifted for it.
    const ProcessResult result = Run({Path("a.png"), Path("b.png"), "-v", "--max-pixels=0"});
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::cout << "compare took " << seconds << " s, peak resident "
              << usage.ru_maxrss / 1024 << " MiB\n";

    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(Normalised(result.output),
              "Load source images took T ms\nImages differ\nPerform diff took T ms\n");
}

}  // namespace
