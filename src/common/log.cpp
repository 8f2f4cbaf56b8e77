#include "common/log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

void LogMessage(const char* format, ...) {
    char text[kLogMessageCapacity];
    std::va_list args;
    va_start(args, format);
    FormatToBuffer(text, sizeof text, format, args);
    va_end(args);
    // The Windows formatter leaves a cut-off text unterminated.
    text[sizeof text - 1] = '\0';
    std::printf("%s\n", text);
}
