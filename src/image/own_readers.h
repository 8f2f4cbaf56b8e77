// Our own readers for the formats most pictures come in (PNG, BMP, JPEG). Each produces
// exactly the 24-bit form the picture library's load and conversion would
// give, or declines, and the file then goes to the library unchanged, so
// that its pixels and messages stay the library's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/image.h"
#include "stream/row_reader.h"

enum class OwnFormat { None, Png, Bmp, Jpeg };

// Which reader may take a file that begins with `head` (`size` bytes of
// it): only files whose content the library itself calls PNG, BMP or JPEG.
OwnFormat RecogniseOwnFormat(const std::uint8_t* head, std::size_t size);

// A reader's answer: the picture; or a picture whose header declares more
// than `maxPixels` pixels (its size, nothing decoded); or why it declined
// (a fixed text naming the reason, for tests and counts).
struct ReadResult {
    Image* image = nullptr;
    const char* declined = nullptr;
    bool tooManyPixels = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

inline ReadResult Declined(const char* reason) { return ReadResult{nullptr, reason, false, 0, 0}; }

// True (and `result` says so) when width x height exceeds `maxPixels`
// (0: no limit).
bool RefuseTooManyPixels(std::uint32_t width, std::uint32_t height, std::uint64_t maxPixels,
                         ReadResult& result);

// The row reader for `file`'s format (read from its start), if we have
// one; null when not. Without `deepSamples` the rows come in their 24-bit
// form alone (no alpha, no 16-bit samples).
std::unique_ptr<RowReader> OpenOwnRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples);

// The whole picture in `file`, read through its row reader; Declined when
// we have none for its format.
ReadResult ReadWithOwnReader(std::FILE* file, std::uint64_t maxPixels = 0, bool deepSamples = true);

// Whether `file` begins like a file of ours (it is read from its start
// and left there).
bool LooksLikeOwnFormat(std::FILE* file);
