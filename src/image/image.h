// The one in-memory picture form: 24 bits per pixel in the picture
// library's channel order, top row first, rows packed (stride = width * 3).
#pragma once

#include <cstddef>
#include <cstdint>

// Padding contract of `pixels`, relied on by the difference kernels, which
// run whole aligned 16-byte blocks with no remainder loop:
//   - the buffer starts on a kImageAlignment boundary;
//   - its size is the payload (width * height * 3 bytes) rounded up to a
//     multiple of kImageAlignment, so reading or writing up to the next
//     multiple of 16 past the payload stays inside it;
//   - the tail past the payload is zero from creation on, so the tails of
//     any two pictures are equal and never count as a difference.
// All sizes are 64-bit: a 24-bit form beyond 4 GiB is an ordinary picture.
struct Image {
    std::int32_t width;
    std::int32_t height;
    std::uint8_t* pixels;
};

constexpr std::size_t kImageAlignment = 128;

// Bytes of pixel data: width * height * 3.
std::size_t ImagePayloadSize(std::int32_t width, std::int32_t height);
// The payload rounded up to whole kImageAlignment units.
std::size_t ImageBufferSize(std::int32_t width, std::int32_t height);

// A new picture of the given size with its tail zeroed and its payload left
// for the caller to fill. Width and height must not be negative. When
// memory runs out it prints "Out of memory for a WxH image" and throws
// FatalError.
Image* CreateImage(std::int32_t width, std::int32_t height);
void DestroyImage(Image* image);

// Room for a reader that decodes in place: a block of `capacity` bytes (at
// least ImageBufferSize), aligned as a picture's buffer, whose first bytes
// become the payload of the picture TakeImage makes of it. Freed if no
// picture is taken. Never throws: Data() is null when memory runs out, and
// TakeImage returns null if the record cannot be made.
class DecodeBuffer {
public:
    DecodeBuffer(std::int32_t width, std::int32_t height, std::size_t capacity);
    ~DecodeBuffer();
    DecodeBuffer(const DecodeBuffer&) = delete;
    DecodeBuffer& operator=(const DecodeBuffer&) = delete;

    std::uint8_t* Data() const { return data; }

    // The picture, with its tail zeroed and what lies beyond its buffer
    // given back (or its payload copied to a buffer of its own size).
    Image* TakeImage();

private:
    std::int32_t width;
    std::int32_t height;
    std::size_t capacity;
    std::uint8_t* data;
};

bool SameDimensions(const Image* a, const Image* b);
