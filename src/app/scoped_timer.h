// Times one phase of the comparison run; in verbose mode its destructor
// prints "<label> took <ms> ms", also when the phase is left by FatalError.
#pragma once

#include <cstdint>

float ElapsedMs(std::uint64_t nowTicks, std::uint64_t startTicks);

class ScopedTimer {
public:
    explicit ScopedTimer(const char* label);
    ~ScopedTimer();
    ScopedTimer(const ScopedTimer&) = delete;
    ScopedTimer& operator=(const ScopedTimer&) = delete;

    std::uint64_t StartTicks() const { return startTicks; }

private:
    const char* label;  // not copied: callers pass string literals
    std::uint64_t startTicks;
};
