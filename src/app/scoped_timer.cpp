#include "app/scoped_timer.h"

#include "common/log.h"
#include "platform/platform.h"

float ElapsedMs(std::uint64_t nowTicks, std::uint64_t startTicks) {
    // The frequency never changes while the process runs: read it once.
    static bool frequencyRead = false;
    static float ticksPerSecond = 0.0f;
    if (!frequencyRead) {
        ticksPerSecond = static_cast<float>(QueryCounterFrequency());
        frequencyRead = true;
    }
    const std::uint64_t elapsedTicks = nowTicks - startTicks;
    return static_cast<float>(static_cast<double>(elapsedTicks) * 1000.0 /
                              static_cast<double>(ticksPerSecond));
}

ScopedTimer::ScopedTimer(const char* phaseLabel)
    : label(phaseLabel), startTicks(QueryCounterTicks()) {}

ScopedTimer::~ScopedTimer() {
    // Looked at now, not at creation: the flag is what counts at report time.
    if (g_verbose) {
        LogMessage("%s took %.1f ms", label,
                   static_cast<double>(ElapsedMs(QueryCounterTicks(), startTicks)));
    }
}
