// The shared failure road of every layer: the code that meets a fatal
// condition prints one line with LogMessage and throws FatalError, which
// only the comparison run catches.
#pragma once

#include <string>

struct FatalError {};

// Set once from "-v" before the comparison run: turns on the outcome line
// and the phase timer lines.
extern bool g_verbose;

// Longer text is cut off: the formatted line holds at most 1023 characters.
constexpr int kLogMessageCapacity = 1024;

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void LogMessage(const char* format, ...);

// Makes LogMessage add its lines to `into` instead of printing them (null:
// print again), for a run whose messages are reported later.
void CaptureLogMessages(std::string* into);

// The line LogMessage would print, without its line end, for a message
// that is kept to be printed later.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string FormatMessage(const char* format, ...);
