// Our own PNG writer for whole pictures: difference pictures of the runs
// that keep whole pictures, and the pictures a report shows. The rows go
// through the row writer; the picture library's encoder (zlib, with
// adaptive filters) took several times as long: 1,070 of a 3446x10728
// pair's 1,220 ms.
#pragma once

#include "image/atomic_file.h"
#include "image/image.h"
#include "stream/png_row_writer.h"

// Encodes the 24-bit form of `image` as PNG into `file` and flushes and
// closes it. Throws FatalError (SaveFailed) on any failure; `file` then
// holds nothing that must be kept.
void WritePng(const Image* image, AtomicFile& file, PngRowWriter::Content content = PngRowWriter::Content::Any);
