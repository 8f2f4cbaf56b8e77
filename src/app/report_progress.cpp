#include <cstdio>

#include "app/report.h"
#include "platform/platform.h"

namespace {

class ProgressReport : public Report {
public:
    explicit ProgressReport(std::size_t pairs) : total(pairs), startTicks(QueryCounterTicks()) {}

    bool NeedsFacts() const override { return false; }

    // Told first: the line goes, so that what the other reports print
    // starts on a line of its own.
    void Pair(const BatchPair& pair, const PairRun&) override {
        ++done;
        failures += pair.status == PairStatus::Identical ? 0 : 1;
        if (shown) {
            std::fputs("\r\x1b[K", stderr);
        }
    }

    // ... and comes back once they have.
    void AfterPair() override {
        const std::uint64_t now = QueryCounterTicks();
        const double seconds = static_cast<double>(now - startTicks) / static_cast<double>(QueryCounterFrequency());
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
        std::fprintf(stderr, "%zu/%zu pairs, %zu not identical, %.1f pairs/s, %.0f s left", done, total,
                     failures, rate, left);
        std::fflush(stderr);
        shown = true;
    }

    bool Finish(const StatusCounts&) override {
        if (shown) {
            std::fputs("\r\x1b[K", stderr);
            std::fflush(stderr);
        }
        return true;
    }

private:
    std::size_t total;
    std::size_t done = 0;
    std::size_t failures = 0;
    std::uint64_t startTicks;
    bool shown = false;
};

}  // namespace

std::unique_ptr<Report> MakeProgressReport(std::size_t total) { return std::make_unique<ProgressReport>(total); }
