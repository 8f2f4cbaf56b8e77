#pragma once

#include "diff/diff_image.h"

// Set once from "-v" before the comparison run: turns on the outcome line
// and the phase timer lines.
extern bool g_verbose;

// Loads both pictures, compares them and writes the difference picture to
// `diffPath` (may be null) when they differ. True only when the pictures are
// identical; any failure has printed its message and answers false.
bool CompareImages(const char* pathA, const char* pathB, const char* diffPath,
                   DiffMode mode);
