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

bool SameDimensions(const Image* a, const Image* b);
