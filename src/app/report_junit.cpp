#include <cstdio>

#include "app/report.h"
#include "common/log.h"

namespace {

std::string XmlText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c; break;
        }
    }
    return out;
}

// One test case per pair, failures for differing and missing ones, errors
// for those that could not be compared; written whole at the end.
class JunitReport : public Report {
public:
    JunitReport(const char* reportPath, std::FILE* complaintStream)
        : path(reportPath), complaints(complaintStream) {}

    bool NeedsFacts() const override { return true; }

    void Pair(const BatchPair& pair, const PairRun& run) override {
        seconds += run.milliseconds / 1000;
        cases += "    <testcase classname=\"glimra\" name=\"" + XmlText(pair.name) + "\"" +
                 FormatMessage(" time=\"%.3f\"", run.milliseconds / 1000);
        const std::string line = XmlText(PeopleLine(pair, run, false));
        switch (pair.updated ? PairStatus::Similar : pair.status) {
        case PairStatus::Identical: cases += "/>\n"; break;
        case PairStatus::Similar:
            // Passed (similar, or accepted by --update), with its line for
            // whoever looks.
            cases += ">\n      <system-out>" + line + "</system-out>\n    </testcase>\n";
            break;
        case PairStatus::Failed:
            cases += ">\n      <error type=\"failed\" message=\"" + line + "\"/>\n    </testcase>\n";
            break;
        default:
            cases += ">\n      <failure type=\"" + std::string(StatusName(pair.status)) +
                     "\" message=\"" + line + "\"/>\n    </testcase>\n";
            break;
        }
    }

    bool Finish(const StatusCounts& counts) override {
        const std::string totals =
            FormatMessage(" tests=\"%zu\" failures=\"%zu\" errors=\"%zu\" time=\"%.3f\"", counts.pairs,
                          counts.different + counts.onlyInA + counts.onlyInB - counts.updated, counts.failed,
                          seconds);
        const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites" + totals +
                                ">\n  <testsuite name=\"glimra\"" + totals + ">\n" + cases +
                                "  </testsuite>\n</testsuites>\n";
        return SaveReportFile(path, xml, complaints);
    }

private:
    const char* path;
    std::FILE* complaints;
    std::string cases;
    double seconds = 0;
};

}  // namespace

std::unique_ptr<Report> MakeJunitReport(const char* path, std::FILE* complaints) {
    return std::make_unique<JunitReport>(path, complaints);
}
