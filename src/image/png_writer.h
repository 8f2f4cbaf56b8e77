// Our own PNG writer, for the pictures a report shows: 8-bit RGB, every row
// unfiltered, deflated in one call by libdeflate at its fastest level. The
// picture library's encoder takes several times as long for pictures that
// only a browser will look at.
#pragma once

#include <cstdint>
#include <memory>

#include "image/atomic_file.h"
#include "image/image.h"

struct libdeflate_compressor;

// Writes pictures of one size, reusing its buffers from one to the next:
// fresh memory costs a page fault per 4 KiB, more than the encoding.
class PngWriter {
public:
    PngWriter();
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Encodes the 24-bit form of `image` as PNG into `file` and flushes and
    // closes it. Throws FatalError (SaveFailed, OutOfMemory) on any failure;
    // `file` then holds nothing that must be kept.
    void Write(const Image* image, AtomicFile& file);

private:
    // Blocks of the kind pictures get (a few huge-page faults each), each
    // grown to the largest size asked of it.
    struct Block {
        std::uint8_t* data = nullptr;
        std::size_t size = 0;
        ~Block();
        bool Reserve(std::size_t bytes);
    };

    libdeflate_compressor* compressor;
    Block raw;
    Block stream;
};
