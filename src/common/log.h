// The shared failure road of every layer: the code that meets a fatal
// condition throws FatalError saying what failed, which only the
// comparison run catches; the run keeps it in its record, and the one
// place that words the run's messages prints it through LogMessage.
#pragma once

#include <cstdint>
#include <string>

// What ended a run. The comment gives each kind's message; "%s" is the
// file the run was at (A or B while loading, the difference picture while
// saving).
enum class Failure : std::uint8_t {
    None,
    OutOfMemory,         // "Out of memory for a %dx%d image" (width, height)
    LibraryUnavailable,  // "Cannot load the picture library %s" (its file name)
    UnknownFormat,       // "Unknown fileformat for %s"
    LoadFailed,          // "Failed to load %s"
    TooManyPixels,       // "Too many pixels in %s: %llux%llu is more than the limit of %llu"
    UnknownOutputType,   // "Can't save to unknown filetype %s\n"
    BitmapNotMade,       // "Failed to create freeimage for %s\n"
    SaveFailed,          // "Failed to save %s"
    DimensionsDiffer,    // "Dimensions of the images don't match!"
    // "Can't compare %s samples in %s with %s samples in %s" (A's kind, A,
    // B's kind, B): float against integer samples.
    SamplesDiffer,
    UnsupportedSamples,  // "Can't compare %s samples in %s" (the kind)
    // Met by the parent of a worker, never thrown: the worker ended without
    // an answer ("Failed to load %s", "Failed to compare %s and %s",
    // "Failed to save %s"), or ran out of its time ("Timed out after %u s
    // loading %s", "... comparing %s and %s", "... saving %s"; limit: the
    // seconds).
    WorkerDied,
    TimedOut,
};

// Thrown by value; plain data, so that a worker's record can hold it.
struct FatalError {
    Failure failure = Failure::None;
    // The picture's size, for OutOfMemory and TooManyPixels.
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    // The pixel limit of TooManyPixels, the seconds of TimedOut.
    std::uint64_t limit = 0;
    // The kinds of samples (image.h's Samples) of SamplesDiffer (A, B) and
    // UnsupportedSamples (the first).
    std::uint8_t samples[2] = {0, 0};
};

// Set once from "-v" before the comparison run: turns on the outcome line
// and the phase timer lines.
extern bool g_verbose;

// Longer text is cut off: the formatted line holds at most 1023 characters.
constexpr int kLogMessageCapacity = 1024;

// printf-style checking of a function's format and arguments. The Windows
// build formats with mingw-w64's C99 printf (__USE_MINGW_ANSI_STDIO), as
// glibc does, so that numbers read the same on both systems.
#if defined(__MINGW32__)
#define GLIMRA_PRINTF(text, first) __attribute__((format(gnu_printf, text, first)))
#elif defined(__GNUC__)
#define GLIMRA_PRINTF(text, first) __attribute__((format(printf, text, first)))
#else
#define GLIMRA_PRINTF(text, first)
#endif

GLIMRA_PRINTF(1, 2)
void LogMessage(const char* format, ...);

// The line LogMessage would print, without its line end, for a message
// that is kept to be printed later.
GLIMRA_PRINTF(1, 2)
std::string FormatMessage(const char* format, ...);
