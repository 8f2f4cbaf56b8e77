#include "common/log.h"

#include <cstdarg>
#include <cstdio>

bool g_verbose = false;

namespace {

std::string* g_captured = nullptr;

}  // namespace

void CaptureLogMessages(std::string* into) { g_captured = into; }

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
    if (g_captured != nullptr) {
        g_captured->append(text).push_back('\n');
        return;
    }
    std::printf("%s\n", text);
    // Each line reaches the console (or the worker's pipe) whole and at
    // once: a process that dies after it has still said it.
    std::fflush(stdout);
}
