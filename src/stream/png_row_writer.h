// PNG written as its rows arrive: 8-bit RGB, every row unfiltered, one
// zlib stream of independent pieces, a band of rows each, every piece in
// an IDAT chunk of its own. Memory: one band of rows and its encoding,
// whatever the picture's height.
//
// A piece is encoded by ISA-L's deflate (level 1, history reset at each
// band so that pieces of either encoder can follow each other) or, for
// difference pictures, by an encoder of runs alone where it does better:
// on a mostly black picture, as nearly all difference pictures are, it
// says "the byte before, n times more" for every run, several times faster
// than a general compressor's search and in files about as small.
//
// Filters were measured and lost: on mostly black difference pictures Sub
// and Up make larger files at the same speed; on highlight pictures they
// help screenshots and hurt photos.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

class PngRowWriter {
public:
    enum class Content { Any, MostlyBlack };

    // Writes the signature and the header of a `width` x `height` picture
    // into `file` at once; the rows follow.
    PngRowWriter(std::FILE* file, std::uint32_t width, std::uint32_t height, Content content);
    ~PngRowWriter();
    PngRowWriter(const PngRowWriter&) = delete;
    PngRowWriter& operator=(const PngRowWriter&) = delete;

    // The next `count` rows of the 24-bit form (blue, green, red), `stride`
    // bytes apart (0: the same row again). False once anything failed.
    bool WriteRows(const std::uint8_t* bgr, std::size_t stride, std::uint32_t count);
    // The next `count` rows, black.
    bool WriteBlackRows(std::uint32_t count);
    // After the last row: the end of the stream and of the file (not
    // flushed). False once anything failed, or rows are missing.
    bool Finish();

private:
    struct State;
    std::unique_ptr<State> state;
};
