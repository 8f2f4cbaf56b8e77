#include "common/log.h"

#include <cstdarg>
#include <cstdio>

bool g_verbose = false;

std::string FormatMessage(const char* format, ...) {
    char text[kLogMessageCapacity];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void LogMessage(const char* format, ...) {
    char text[kLogMessageCapacity];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::printf("%s\n", text);
    // Each line reaches the console whole and at once: a process that dies
    // after it has still said it.
    std::fflush(stdout);
}
