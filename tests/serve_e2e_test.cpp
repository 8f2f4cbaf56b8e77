// --serve answers JSON requests on standard input, a line each in their
// order: the same JSON the command line gives for the pair and options,
// with the request's id; malformed requests are refused and the server
// goes on.
#include "support/e2e_fixture.h"

#include <cstdlib>
#include <regex>
#include <sstream>

#include "support/files.h"

namespace {

const std::string kRendered = GLIMRA_PERCEPTUAL_DIR;

class Serve : public EndToEnd {
protected:
    // The server's answer lines to `requests` (one a line), with the
    // command line's `options`.
    std::vector<std::string> Answers(const std::string& requests, const std::string& options = "") {
        WriteFileBytes(Path("requests"), requests);
        const ProcessResult result = RunProcess(
            "/bin/sh", {"-c", "\"$GLIMRA_BINARY\" --serve " + options + " < \"" + Path("requests") + "\""});
        EXPECT_EQ(result.exitStatus, 0) << result.output << result.errors;
        EXPECT_EQ(result.errors, "");
        std::vector<std::string> lines;
        std::istringstream in(result.output);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

std::string WithoutTime(const std::string& json) {
    return std::regex_replace(json, std::regex(",\"milliseconds\":[0-9.]+"), "");
}

TEST_F(Serve, AnswersAreTheCommandLinesJsonWithTheRequestsId) {
    struct Case {
        std::string a, b, options, json;  // the command line's options, the request's
    };
    const std::string r = kRendered + "/";
    const std::vector<Case> cases = {
        {r + "hinting-none.png", r + "hinting-full.png", "", ""},
        {r + "hinting-none.png", r + "hinting-full.png", "--threshold=0.1 --antialiasing",
         R"({"threshold":0.1,"antialiasing":true})"},
        {r + "clear-none.png", r + "clear-full.png", "--tolerance=3 --ignore=40x40+10+10 --max-differing=2%",
         R"({"tolerance":3,"ignore":["40x40+10+10"],"maxDiffering":"2%"})"},
        {r + "default.png", r + "scale-2.png", "--ignore-alpha --max-differing=100", R"({"ignoreAlpha":true,"maxDiffering":100})"},
        {r + "default.png", r + "default.png", "", ""},
        {r + "default.png", Path("missing.png"), "", ""},
        {r + "default.png", std::string(GLIMRA_EXAMPLES_DIR) + "/after.png", "", ""},
        {std::string(GLIMRA_EXAMPLES_DIR) + "/before.png", std::string(GLIMRA_EXAMPLES_DIR) + "/after.png",
         "-x --max-pixels=100000", R"({"xor":true,"maxPixels":100000})"},
    };
    std::string requests;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        requests += "{\"id\":" + std::to_string(i) + ",\"a\":\"" + cases[i].a + "\",\"b\":\"" + cases[i].b + "\"" +
                    (cases[i].json.empty() ? "" : ",\"options\":" + cases[i].json) + "}\n";
    }
    const std::vector<std::string> answers = Answers(requests);
    ASSERT_EQ(answers.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::vector<std::string> args = {cases[i].a, cases[i].b, "--json"};
        std::istringstream options(cases[i].options);
        for (std::string option; options >> option;) {
            args.push_back(option);
        }
        std::string expected = WithoutTime(Run(args).output);
        expected.insert(std::string("{\"schema\":1,").size(), "\"id\":" + std::to_string(i) + ",");
        EXPECT_EQ(WithoutTime(answers[i]) + "\n", expected) << i;
    }
}

TEST_F(Serve, MalformedRequestsAreRefusedAndTheServerGoesOn) {
    const std::string good = "{\"id\":\"last\",\"a\":\"" + kRendered + "/default.png\",\"b\":\"" + kRendered +
                             "/default.png\"}\n";
    const std::string requests = "not json\n"
                                 "{\"id\":2,\"a\":\"x.png\"}\n"
                                 "{\"id\":3,\"a\":\"x\",\"b\":\"y\",\"options\":{\"frobnicate\":1}}\n"
                                 "{\"id\":4,\"a\":\"x\",\"b\":\"y\",\"options\":{\"threshold\":2}}\n"
                                 "[1,2]\n" +
                                 std::string("{\"id\":6,\"a\":\"") + std::string(std::size_t{1} << 20, 'x') + "\"}\n" + good;
    const std::vector<std::string> answers = Answers(requests);
    ASSERT_EQ(answers.size(), 7u);
    EXPECT_EQ(answers[0], R"({"id":null,"status":"failed","message":"Request is not a JSON object"})");
    EXPECT_EQ(answers[1], R"({"id":2,"status":"failed","message":"Request needs \"a\" and \"b\", each a path"})");
    EXPECT_EQ(answers[2], R"({"id":3,"status":"failed","message":"Unknown option frobnicate"})");
    EXPECT_EQ(answers[3], R"({"id":4,"status":"failed","message":"Invalid value of threshold: 2"})");
    EXPECT_EQ(answers[4], R"({"id":null,"status":"failed","message":"Request is not a JSON object"})");
    EXPECT_EQ(answers[5], R"({"id":null,"status":"failed","message":"Request over 1 MiB"})");
    EXPECT_NE(answers[6].find(R"("id":"last",)"), std::string::npos);
    EXPECT_NE(answers[6].find(R"("status":"identical")"), std::string::npos);
}

// The command line's options are the defaults; a request's override them.
TEST_F(Serve, CommandLineOptionsAreTheDefaults) {
    const std::string pair = "\"a\":\"" + kRendered + "/hinting-none.png\",\"b\":\"" + kRendered + "/hinting-full.png\"";
    const std::vector<std::string> answers =
        Answers("{\"id\":1," + pair + "}\n{\"id\":2," + pair + ",\"options\":{\"threshold\":0.3,\"antialiasing\":false}}\n",
                "--threshold=0.1 --antialiasing --jobs=2");
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_NE(answers[0].find("\"differingPixels\":166,"), std::string::npos) << answers[0];
    EXPECT_NE(answers[1].find("\"differingPixels\":154,"), std::string::npos) << answers[1];
    EXPECT_EQ(answers[1].find("antialiasedPixels"), std::string::npos);
}

}  // namespace
