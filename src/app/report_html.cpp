// The report people open: DIR/index.html, one self-contained page (its
// style and script, made from the files in src/app/report_page, inside
// it; nothing from the network) that shows the pictures the workers wrote
// into DIR/pictures. Every name reaches the
// page as JSON data and is put into it as text by the page's script, never
// as markup, so a file name cannot inject an element or a script.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/report.h"
#include "common/log.h"
#include "image/atomic_file.h"

namespace {

const char* const kPictureNames[kReportPictures] = {"a", "b", "difference", "highlight"};

// The page's own files (src/app/report_page), embedded at build time.
#include "report_page.inc"

// `page` with `marker` replaced by `text`.
std::string Fill(std::string page, const std::string& marker, const std::string& text) {
    const std::size_t at = page.find(marker);
    return at == std::string::npos ? page : page.replace(at, marker.size(), text);
}

// JSON inside a script element: "<" cannot end it, nor "&" start anything.
std::string ForScript(const std::string& json) {
    std::string out;
    for (const char c : json) {
        switch (c) {
        case '<': out += "\\u003c"; break;
        case '>': out += "\\u003e"; break;
        case '&': out += "\\u0026"; break;
        default: out += c; break;
        }
    }
    return out;
}

class HtmlReport : public Report {
public:
    HtmlReport(const char* reportDir, std::FILE* complaintStream)
        : dir(reportDir), complaints(complaintStream) {}

    bool NeedsFacts() const override { return true; }

    void Pair(const BatchPair& pair, const PairRun& run) override {
        std::string json = FormatMessage("{\"index\":%zu,\"name\":", entries.size()) + JsonString(pair.name) +
                           ",\"a\":" + JsonString(pair.pathA) + ",\"b\":" + JsonString(pair.pathB) +
                           OutcomeFields(pair, run) + ",\"pictures\":{";
        const char* comma = "";
        for (unsigned i = 0; i < kReportPictures && pair.compare; ++i) {
            if ((run.record.reportPicturesPlaced & (1u << i)) != 0) {
                json += std::string(comma) + "\"" + kPictureNames[i] + "\":" +
                        JsonString(ReportPicturePath("", entries.size(), static_cast<ReportPicture>(i)));
                comma = ",";
            }
        }
        entries.push_back(json + "}}");
    }

    bool Finish(const StatusCounts&) override {
        std::string json = "{\"schema\":1,\"pairs\":[";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            json += (i == 0 ? "" : ",\n") + ForScript(entries[i]);
        }
        json += "]}";
        // The data last: no name can hold a marker that is still to come.
        std::string page = Fill(kReportHtml, "/*glimra:style*/", kReportCss);
        page = Fill(page, "/*glimra:script*/", kReportScript);
        page = Fill(page, "/*glimra:data*/", json);
        return SaveReportFile(dir + "/index.html", page, complaints);
    }

private:
    std::string dir;
    std::FILE* complaints;
    std::vector<std::string> entries;
};

}  // namespace

std::string ReportPicturePath(const std::string& dir, std::size_t index, ReportPicture which) {
    return (dir.empty() ? "" : dir + "/") + FormatMessage("pictures/%zu-%s.png", index, kPictureNames[which]);
}

bool PrepareReportDirectory(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir + "/pictures", error);
    if (error) {
        return false;
    }
    // A file that can be made there, and goes again.
    const AtomicFile probe((dir + "/index.html").c_str());
    return probe.Stream() != nullptr;
}

void AssignReportPictures(std::vector<BatchPair>& pairs, const std::string& dir) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        for (unsigned which = 0; which < kReportPictures && pairs[i].compare; ++which) {
            pairs[i].reportPictures[which] = ReportPicturePath(dir, i, static_cast<ReportPicture>(which));
        }
    }
}

std::unique_ptr<Report> MakeHtmlReport(const char* dir, std::FILE* complaints) {
    return std::make_unique<HtmlReport>(dir, complaints);
}
