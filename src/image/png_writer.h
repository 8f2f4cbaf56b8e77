// Our own PNG writer, for difference pictures and the pictures a report
// shows: 8-bit RGB, every row unfiltered, deflated in one call by
// libdeflate. The picture library's encoder (zlib, with adaptive filters)
// took several times as long: 1,070 of a 3446x10728 pair's 1,220 ms.
//
// Filters were measured and lost: on mostly black difference pictures
// Sub and Up make larger files at the same speed; on highlight pictures
// they help screenshots and hurt photos.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/atomic_file.h"
#include "image/image.h"

struct libdeflate_compressor;

// Writes pictures of one size, reusing its buffers from one to the next:
// fresh memory costs a page fault per 4 KiB, more than the encoding.
class PngWriter {
public:
    // On long runs of black, level 2 is faster than level 1 (218 against
    // 323 ms on 111 MB of zeros) and its files are smaller.
    static constexpr int kDifferenceLevel = 2;

    // libdeflate's level: 1 for report pictures, small and often photos,
    // where it is the fastest; kDifferenceLevel for difference pictures.
    explicit PngWriter(int level = 1);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Encodes the 24-bit form of `image` as PNG into `file` and flushes and
    // closes it. Throws FatalError (SaveFailed, OutOfMemory) on any failure;
    // `file` then holds nothing that must be kept.
    void Write(const Image* image, AtomicFile& file);
    // The same for a difference picture: where it is mostly black, as
    // nearly all are, an encoder of runs alone writes it several times
    // faster than libdeflate, in files about as small.
    void WriteMostlyBlack(const Image* image, AtomicFile& file);

private:
    bool EncodeRuns(const Image* image, std::vector<std::uint8_t>& zlibStream);
    void WriteFile(const Image* image, const std::uint8_t* zlibStream, std::size_t streamSize, AtomicFile& file);

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
