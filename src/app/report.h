// The reports of a run, behind one small interface: each is told of every
// pair in the pairs' order as soon as it is done, and of the counts at the
// end. One file per format: lines for people (report_people.cpp), JSON
// lines (report_json.cpp), JUnit (report_junit.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/batch_inputs.h"
#include "run/worker_pool.h"

// How many pairs came out how.
struct StatusCounts {
    std::size_t pairs = 0;
    std::size_t identical = 0;
    std::size_t similar = 0;
    std::size_t different = 0;
    std::size_t failed = 0;
    std::size_t onlyInA = 0;
    std::size_t onlyInB = 0;
    // Of the different pairs and those only in B: accepted by --update.
    std::size_t updated = 0;

    void Add(const BatchPair& pair);
};

class Report {
public:
    virtual ~Report() = default;
    // Whether it tells the size of compared pictures and where and how
    // much they differ, which costs a measuring pass.
    virtual bool NeedsFacts() const = 0;
    // `pair.status` is final; `run` is what came of it (its record means
    // nothing for a pair that was not compared).
    virtual void Pair(const BatchPair& pair, const PairRun& run) = 0;
    // Once every report has been told of the pair.
    virtual void AfterPair() {}
    // After the last pair; false when the report could not be written.
    virtual bool Finish(const StatusCounts& counts) = 0;
};

// The one pair of the command line, for people: the run's own messages,
// and in verbose mode (g_verbose) its outcome and phase timer lines.
std::unique_ptr<Report> MakeSinglePairReport();
// Many pairs, for people: a line for each pair that is not identical (for
// every pair, with its time, when `verbose`), and a summary.
struct PeopleOptions {
    bool verbose = false;
    // The summary counts similar pairs on their own (a run with anything
    // that narrows what counts), updated pairs (--update), and adds the
    // anti-aliased pixels left out (--antialiasing).
    bool similarApart = false;
    bool update = false;
    bool antialiasing = false;
};
std::unique_ptr<Report> MakePeopleReport(const PeopleOptions& options);
std::unique_ptr<Report> MakeJsonReport();
// A pair's line of schema 1, as --json prints it.
std::string JsonLine(const BatchPair& pair, const PairRun& run);
// One line on standard error, rewritten in place as pairs finish (done and
// total, failures so far, rate, time left) and cleared at the end: for a
// person watching a terminal. It must come first among the reports.
std::unique_ptr<Report> MakeProgressReport(std::size_t total);
// Written to `path` at the end; a failure to write it is said on
// `complaints`.
std::unique_ptr<Report> MakeJunitReport(const char* path, std::FILE* complaints);

// The HTML report DIR/index.html, with the pictures the workers write into
// DIR/pictures (AssignReportPictures); a failure to write it is said on
// `complaints`.
std::unique_ptr<Report> MakeHtmlReport(const char* dir, std::FILE* complaints);
// Makes DIR and DIR/pictures; false when files cannot be made there.
bool PrepareReportDirectory(const std::string& dir);
// Where each pair's report pictures go, by its place in `pairs`.
void AssignReportPictures(std::vector<BatchPair>& pairs, const std::string& dir);
// DIR/pictures/<index>-<a|b|difference|highlight>.png (relative to DIR
// when `dir` is empty).
std::string ReportPicturePath(const std::string& dir, std::size_t index, ReportPicture which);

// Helpers the formats share.
const char* StatusName(PairStatus status);
// Why a failed pair failed, on one line.
std::string FailureText(const BatchPair& pair, const PairRun& run);
std::uint64_t PixelCount(const PairFacts& facts);
// `text` as a JSON string, quotes included.
std::string JsonString(const std::string& text);
// The facts of a compared pair as JSON members, each led by a comma.
std::string FactsFields(const PairFacts& facts);
// How a pair came out as JSON members, each led by a comma: its status,
// which side is missing, why it failed, and the facts of a compared pair.
std::string OutcomeFields(const BatchPair& pair, const PairRun& run);
// Writes `text` to `path` whole or not at all; says on `complaints` when
// it could not.
bool SaveReportFile(const std::string& path, const std::string& text, std::FILE* complaints);
// A pair's line for people, as the people's report gives it.
std::string PeopleLine(const BatchPair& pair, const PairRun& run, bool withTime);
