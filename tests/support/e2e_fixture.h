// Shared ground of the end-to-end tests: a fresh directory per test, the
// built binary (its path, or that of a script starting it under a tool,
// comes from CTest in GLIMRA_BINARY) and output normalised so that timings
// and the build date compare exactly.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/pictures.h"
#include "support/run_process.h"

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return dir + "/" + name; }
    ProcessResult Run(const std::vector<std::string>& args, const ProcessLimits& limits = {}) const;
    // The status and output of comparing files `a` and `b` of this test's
    // directory, with file names and times taken out; `whole`: as whole
    // pictures (GLIMRA_WHOLE_PICTURES), the oracle of streamed runs.
    std::string Answer(const std::string& a, const std::string& b, std::vector<std::string> options,
                       bool whole = false) const;

    std::string dir;
};

// What a test needs of the tool beyond our own readers and writer. The
// windows step runs these tests against glimra.exe under wine, which has
// none of them, and names them in GLIMRA_TOOL_LACKS (separated by commas);
// a test that needs one skips itself there:
//   picture-library  FreeImage (other formats, files our readers decline)
//   workers          forked workers: kills, signals, per-pair limits
//   permission-bits  POSIX file modes
//   terminal         a POSIX terminal (the progress line)
bool ToolLacks(const char* need);
#define GLIMRA_TEST_NEEDS(need)                                         \
    do {                                                                \
        if (ToolLacks(need)) {                                          \
            GTEST_SKIP() << "the tool under test has no " << (need);    \
        }                                                               \
    } while (false)

// "X took 12.3 ms" becomes "X took T ms"; the build date becomes "DATE".
std::string Normalised(const std::string& output);

// The usage text, as printed after an optional message.
std::string UsageText(const std::string& message);
