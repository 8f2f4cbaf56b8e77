// Times one phase of the comparison run into the run's record, also when
// the phase is left by FatalError; the record's reader prints the timer
// line "<label> took <ms> ms" in verbose mode.
#pragma once

#include <cstdint>

#include "run/run_record.h"

float ElapsedMs(std::uint64_t nowTicks, std::uint64_t startTicks);

class ScopedTimer {
public:
    ScopedTimer(RunRecord& record, Phase phase);
    ~ScopedTimer();
    ScopedTimer(const ScopedTimer&) = delete;
    ScopedTimer& operator=(const ScopedTimer&) = delete;

private:
    RunRecord& record;
    Phase phase;
    std::uint64_t startTicks;
};
