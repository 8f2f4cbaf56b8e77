#pragma once

#include "image/image.h"

enum class DiffMode { AbsDelta = 0, Xor = 1 };

// The difference picture of two pictures of equal size (the caller has
// checked SameDimensions; the size is taken from `a`), or null when no byte
// differs. The caller owns the result.
Image* CreateDiffImage(const Image* a, const Image* b, DiffMode mode);

// Whether any byte of two pictures of equal size differs, decided without
// making a difference picture.
bool ImagesDiffer(const Image* a, const Image* b);
