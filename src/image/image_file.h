// Reading and writing picture files: PNG and BMP mostly through our own
// readers, everything else through the FreeImage library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "image/atomic_file.h"
#include "image/image.h"

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using PictureFile = std::unique_ptr<std::FILE, FileCloser>;

// `path` open for binary reading, closed when it goes; null when it
// cannot be opened.
PictureFile OpenPictureFile(const char* path);

// Reads the picture in `file` (open for binary reading, at its start) and
// brings it to the 24-bit form. Reading goes by content; the name plays no
// part. A null `file` (it could not be opened) is an unknown format. A
// picture declaring more than `maxPixels` pixels (0: no limit) is refused,
// before it is decoded where its header can be read alone. Without
// `deepSamples` the picture keeps its 24-bit form alone. Never returns
// null: every failure throws FatalError saying what failed.
Image* LoadImageFile(std::FILE* file, std::uint64_t maxPixels, bool deepSamples = true);
// The same, opening `path` itself, without a pixel limit.
Image* LoadImageFile(const char* path);

// The same through the picture library alone, without our own readers:
// what LoadImageFile does with a file they decline, and the reference they
// are tested against.
Image* LoadImageFileWithLibrary(std::FILE* file, std::uint64_t maxPixels, bool deepSamples = true);
Image* LoadImageFileWithLibrary(const char* path);

// The one rule for whether a run needs the picture library: to read an
// open `input` that none of our readers may take, or to write any
// difference picture (`outputPath` not null). Either may be null. An input
// that could not be opened needs nothing: it fails as an unknown format.
// A reader of ours may still decline a file it looked likely to take;
// then the library is needed after all.
bool NeedsPictureLibrary(std::FILE* input, const char* outputPath);

// Whether `file` holds a picture at all, by its content: one our readers
// may take, or one whose format the picture library knows. Loads nothing:
// where the library is needed to tell, the caller loads it first
// (PreloadFreeImage); without it, a file whose first bytes are those of
// a format the library reads.
bool IsPictureFile(std::FILE* file);

// The rest of `in`, from where it stands, written to `out`; false when a
// read or a write failed.
bool CopyFileBytes(std::FILE* in, std::FILE* out);

// Copies the whole of `source` (an open picture file, read from its
// start) into `file` and flushes and closes it. Throws FatalError
// (SaveFailed) on any failure.
void CopyImageFile(std::FILE* source, AtomicFile& file);

// Where a difference picture meant for `path` can go: `path` itself, or,
// where the library's format for that name cannot hold 24 bits a pixel
// (GIF), a PNG file beside it named `path` + ".png". Asks the library only
// if it is loaded already; without it, `path`.
std::string DifferencePicturePath(const std::string& path);

// Encodes `image` into `file` (made beside `path`) in the format `path`'s
// name says, and flushes and closes it: PNG (by the name's ending, in any
// case) by our own writer, every other format by the library, which
// chooses it from the name. On any failure it throws FatalError; `file`
// then holds nothing that must be kept. Putting the file in place is the
// caller's.
void SaveImageFile(const Image* image, const char* path, AtomicFile& file);
// The same through the library for every format: what it does for names
// other than PNG, and the reference our writer is tested against.
void SaveImageFileWithLibrary(const Image* image, const char* path, AtomicFile& file);
