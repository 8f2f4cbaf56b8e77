// Reading and writing picture files: PNG and BMP mostly through our own
// readers, everything else through the FreeImage library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/atomic_file.h"
#include "image/image.h"

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using PictureFile = std::unique_ptr<std::FILE, FileCloser>;

// `path` open for binary reading, closed when it goes; null when it
// cannot be opened.
PictureFile OpenPictureFile(const char* path);

// Reads the picture in `file` (open for binary reading, at its start;
// `path` names it in messages) and brings it to the 24-bit form. Reading
// goes by content; the name plays no part. A null `file` (it could not be
// opened) is an unknown format. A picture declaring more than `maxPixels`
// pixels (0: no limit) is refused, before it is decoded where its header
// can be read alone. Never returns null: every failure prints its message
// and throws FatalError.
Image* LoadImageFile(const char* path, std::FILE* file, std::uint64_t maxPixels);
// The same, opening `path` itself, without a pixel limit.
Image* LoadImageFile(const char* path);

// The same through the picture library alone, without our own readers:
// what LoadImageFile does with a file they decline, and the reference they
// are tested against.
Image* LoadImageFileWithLibrary(const char* path, std::FILE* file, std::uint64_t maxPixels);
Image* LoadImageFileWithLibrary(const char* path);

// Whether the file at `path` is a picture at all, by its content: one our
// readers take or one whose format the picture library knows. Without the
// library, any file counts. `ours` tells whether it looks like one of our
// formats (then the library was not asked).
bool IsPictureFile(const char* path, bool& ours);

// Encodes `image` into `file` (made beside `path`) in the format the
// library chooses from `path`'s name, and flushes and closes it. On any
// failure it prints the message and throws FatalError; `file` then holds
// nothing that must be kept. Putting the file in place is the caller's.
void SaveImageFile(const Image* image, const char* path, AtomicFile& file);
