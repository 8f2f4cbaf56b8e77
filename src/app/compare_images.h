#pragma once

#include "diff/diff_image.h"

// Loads both pictures, compares them and writes the difference picture to
// `diffPath` (may be null) when they differ. True only when the pictures are
// identical; any failure has printed its message and answers false.
bool CompareImages(const char* pathA, const char* pathB, const char* diffPath,
                   DiffMode mode);
