#include "stream/row_reader.h"

const char* const kTooManyPixels = "too many pixels";
