// Our own readers for the formats most pictures come in. Each produces
// exactly the 24-bit form the picture library's load and conversion would
// give, or declines, and the file then goes to the library unchanged, so
// that its pixels and messages stay the library's.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/image.h"

enum class OwnFormat { None, Png, Bmp };

// Which reader may take a file that begins with `head` (`size` bytes of
// it): only files whose content the library itself calls PNG or BMP.
OwnFormat RecogniseOwnFormat(const std::uint8_t* head, std::size_t size);

// A reader's answer: the picture, or why it declined (a fixed text naming
// the reason, for tests and counts).
struct ReadResult {
    Image* image = nullptr;
    const char* declined = nullptr;
};

inline ReadResult Declined(const char* reason) { return ReadResult{nullptr, reason}; }

// Each reads `file` (`size` bytes, from its start) in full.
ReadResult ReadPng(std::FILE* file, std::uint64_t size);
ReadResult ReadBmp(std::FILE* file, std::uint64_t size);

// The reader for `file`'s format, if we have one; Declined when not.
ReadResult ReadWithOwnReader(std::FILE* file);
