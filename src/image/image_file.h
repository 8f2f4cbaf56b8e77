// Reading and writing picture files: PNG and BMP mostly through our own
// readers, everything else through the FreeImage library.
#pragma once

#include "image/image.h"

// Reads any format the library recognises from the file's content (the
// name plays no part) and brings it to the 24-bit form. Never returns null:
// every failure prints its message and throws FatalError.
Image* LoadImageFile(const char* path);

// The same through the picture library alone, without our own readers:
// what LoadImageFile does with a file they decline, and the reference they
// are tested against.
Image* LoadImageFileWithLibrary(const char* path);

// Writes `image` in the format the library chooses from `path`'s name.
// Either the complete file replaces whatever was at `path`, or `path` is
// left as it was and a message plus FatalError reports the failure.
void SaveImageFile(const Image* image, const char* path);
