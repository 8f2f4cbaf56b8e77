#include "support/e2e_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <regex>

#include <unistd.h>

void EndToEnd::SetUp() {
    const char* binary = std::getenv("GLIMRA_BINARY");
    ASSERT_NE(binary, nullptr) << "GLIMRA_BINARY must name the built glimra";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = (std::filesystem::temp_directory_path() /
           ("glimra-e2e-" + std::to_string(getpid()) + "-" + info->name()))
              .string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
}

void EndToEnd::TearDown() {
    // Keep the pictures of a failed test for a look.
    if (!HasFailure()) {
        std::filesystem::remove_all(dir);
    }
}

ProcessResult EndToEnd::Run(const std::vector<std::string>& args,
                            const ProcessLimits& limits) const {
    return RunProcess(std::getenv("GLIMRA_BINARY"), args, limits);
}

bool ToolLacks(const char* need) {
    const char* lacks = std::getenv("GLIMRA_TOOL_LACKS");
    if (lacks == nullptr) {
        return false;
    }
    const std::string list = std::string(",") + lacks + ",";
    return list.find(std::string(",") + need + ",") != std::string::npos;
}

std::string EndToEnd::Answer(const std::string& a, const std::string& b, std::vector<std::string> options,
                             bool whole) const {
    options.insert(options.begin(), {Path(a), Path(b)});
    if (whole) {
        setenv("GLIMRA_WHOLE_PICTURES", "1", 1);
    }
    const ProcessResult result = Run(options);
    unsetenv("GLIMRA_WHOLE_PICTURES");
    std::string output = std::regex_replace(result.output, std::regex("\"(name|a|b|diff)\":\"[^\"]*\""), "");
    output = std::regex_replace(output, std::regex(",\"milliseconds\":[0-9.]+"), "");
    return std::to_string(result.exitStatus) + " " + Normalised(output);
}

std::string Normalised(const std::string& output) {
    static const std::regex timing(" took [0-9]+\\.[0-9] ms\n");
    static const std::regex buildDate("Compiled on [A-Z][a-z]{2} [ 123][0-9] [0-9]{4}\n");
    return std::regex_replace(std::regex_replace(output, timing, " took T ms\n"), buildDate,
                              "Compiled on DATE\n");
}

std::string UsageText(const std::string& message) {
    return message + "\n\n" +
           "glimra - tells whether two picture files hold exactly the same pixels\n"
           "Usage: glimra <imageA> <imageB> [diffImage] [-v]\n\n"
           "\t-v : verbose\n"
           "\t-x : use xor diff\n"
           "\t-d : use abs delta diff [default]\n"
           "Compiled on DATE\n";
}
