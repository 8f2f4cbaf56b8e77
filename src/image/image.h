// The one in-memory picture form: 24 bits per pixel in the picture
// library's channel order, top row first, rows packed (stride = width * 3),
// and beside it, only for pictures that have them, the samples the 24-bit
// form cannot hold: alpha, 16-bit and float samples.
#pragma once

#include <cstddef>
#include <cstdint>

// What kind of samples a file holds, in the words of the messages. Only
// the first three are compared; the others are refused.
enum class Samples : std::uint8_t { Bits8, Bits16, Float, SignedInt16, UnsignedInt32, SignedInt32, Double, Complex };
const char* SamplesName(Samples samples);

// Padding contract of `pixels`, relied on by the difference kernels, which
// run whole aligned 16-byte blocks with no remainder loop:
//   - the buffer starts on a kImageAlignment boundary;
//   - its size is the payload (width * height * 3 bytes) rounded up to a
//     multiple of kImageAlignment, so reading or writing up to the next
//     multiple of 16 past the payload stays inside it;
//   - the tail past the payload is zero from creation on, so the tails of
//     any two pictures are equal and never count as a difference.
// All sizes are 64-bit: a 24-bit form beyond 4 GiB is an ordinary picture.
//
// The planes beside it (`alpha`, `deep`) follow the same contract: aligned
// to kImageAlignment, sized to whole units of it, their tail zero.
struct Image {
    std::int32_t width;
    std::int32_t height;
    std::uint8_t* pixels;

    // The samples the file holds. Bits8 pictures have no `deep` plane.
    Samples samples = Samples::Bits8;
    // The file stores transparency: an alpha channel, a tRNS chunk, a
    // transparent palette index. A picture that stores none is opaque.
    bool storesAlpha = false;
    // The file is a PNG that a browser shows exactly as the 24-bit form:
    // 8-bit samples, no transparency, no chunk asking for colour
    // management. A report may show its bytes instead of encoding anew.
    bool shownAsIs = false;
    // Bits8 only: each pixel's alpha, one byte, rows packed; null where
    // every pixel is opaque (255).
    std::uint8_t* alpha = nullptr;
    // Bits16: four std::uint16_t a pixel, red, green, blue, alpha (65535
    // where the file stores none); Float: four floats in the same order
    // (alpha 1.0 where none). Rows packed.
    void* deep = nullptr;
};

constexpr std::size_t kImageAlignment = 128;

// Bytes of pixel data: width * height * 3.
std::size_t ImagePayloadSize(std::int32_t width, std::int32_t height);
// The payload rounded up to whole kImageAlignment units.
std::size_t ImageBufferSize(std::int32_t width, std::int32_t height);

// A new picture of the given size with its tail zeroed and its payload left
// for the caller to fill. Width and height must not be negative. When
// memory runs out it throws FatalError (OutOfMemory).
Image* CreateImage(std::int32_t width, std::int32_t height);
// Throws FatalError (OutOfMemory) for a picture of the given size.
[[noreturn]] void FailOutOfMemory(std::int32_t width, std::int32_t height);
// Frees the picture and its planes.
void DestroyImage(Image* image);

// Bytes of the payload of a picture's alpha plane, and of a deep plane of
// the given samples (Bits16 or Float).
std::size_t AlphaPlaneSize(std::int32_t width, std::int32_t height);
std::size_t DeepPlaneSize(std::int32_t width, std::int32_t height, Samples samples);
// A plane of `payload` bytes under the contract above, payload left to
// the caller; null when memory runs out or there is no payload. FreePlane
// needs the same payload.
void* AllocatePlane(std::size_t payload);
void FreePlane(void* plane, std::size_t payload);

// Brings two pictures to the precision both hold: 16-bit samples where
// both have them, float where both have them, otherwise the 8-bit form
// (a 16-bit picture then keeps the high bytes of its alpha). False, with
// nothing changed, when one holds float samples and the other does not.
// When memory runs out it throws FatalError (OutOfMemory).
bool MatchSamples(Image* a, Image* b);
// Drops everything beside the 24-bit form: it alone decides.
void KeepOnly24Bits(Image* image);

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

// A plane being filled, freed unless Release hands it to a picture.
class OwnedPlane {
public:
    explicit OwnedPlane(std::size_t payloadBytes)
        : payload(payloadBytes), data(AllocatePlane(payloadBytes)) {}
    ~OwnedPlane() { FreePlane(data, payload); }
    OwnedPlane(const OwnedPlane&) = delete;
    OwnedPlane& operator=(const OwnedPlane&) = delete;

    void* Data() const { return data; }
    void* Release() {
        void* plane = data;
        data = nullptr;
        return plane;
    }

private:
    std::size_t payload;
    void* data;
};

// Gathers a picture's alpha row by row, top row first, every row, and
// keeps a plane only once some pixel is not opaque: an RGBA picture that
// is opaque everywhere costs no plane.
class AlphaCollector {
public:
    AlphaCollector(std::int32_t width, std::int32_t height);
    ~AlphaCollector();
    AlphaCollector(const AlphaCollector&) = delete;
    AlphaCollector& operator=(const AlphaCollector&) = delete;

    // False when memory runs out.
    bool TakeRow(std::int32_t y, const std::uint8_t* row);
    // Hands the plane (null when every pixel was opaque) to `image`, and
    // marks it as storing transparency.
    void Attach(Image* image);

private:
    std::size_t width;
    std::size_t payload;
    std::uint8_t* plane = nullptr;
};
