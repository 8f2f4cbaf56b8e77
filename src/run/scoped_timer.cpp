#include "run/scoped_timer.h"

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

ScopedTimer::ScopedTimer(RunRecord& runRecord, Phase timedPhase)
    : record(runRecord), phase(timedPhase), startTicks(QueryCounterTicks()) {
    record.phaseStartTicks = startTicks;
    record.Time(phase) = PhaseTime{true, false, 0};
}

ScopedTimer::~ScopedTimer() {
    record.Time(phase).milliseconds = ElapsedMs(QueryCounterTicks(), startTicks);
    record.Time(phase).ended = true;
}
