#include "image/image.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/log.h"
#include "platform/platform.h"

namespace {

// The tail of the padding contract: at most 127 bytes. A mapped buffer is
// zero already, but one page touched early costs less than knowing which
// kind this is.
void ZeroTail(Image* image) {
    const std::size_t payload = ImagePayloadSize(image->width, image->height);
    const std::size_t size = ImageBufferSize(image->width, image->height);
    if (size > payload) {
        std::memset(image->pixels + payload, 0, size - payload);
    }
}

}  // namespace

std::size_t ImagePayloadSize(std::int32_t width, std::int32_t height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
}

std::size_t ImageBufferSize(std::int32_t width, std::int32_t height) {
    return (ImagePayloadSize(width, height) + (kImageAlignment - 1)) &
           ~(kImageAlignment - 1);
}

Image* CreateImage(std::int32_t width, std::int32_t height) {
    const std::size_t size = ImageBufferSize(width, height);

    Image* image = new (std::nothrow) Image{width, height, nullptr};
    if (image != nullptr && size > 0) {
        image->pixels = static_cast<std::uint8_t*>(AllocateBuffer(size, kImageAlignment));
        if (image->pixels == nullptr) {
            delete image;
            image = nullptr;
        }
    }
    if (image == nullptr) {
        FailOutOfMemory(width, height);
    }
    ZeroTail(image);
    return image;
}

void FailOutOfMemory(std::int32_t width, std::int32_t height) {
    throw FatalError{Failure::OutOfMemory, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), 0};
}

void DestroyImage(Image* image) {
    if (image == nullptr) {
        return;
    }
    KeepOnly24Bits(image);
    FreeBuffer(image->pixels, ImageBufferSize(image->width, image->height));
    delete image;
}

const char* SamplesName(Samples samples) {
    switch (samples) {
    case Samples::Bits8: return "8-bit";
    case Samples::Bits16: return "16-bit";
    case Samples::Float: return "float";
    case Samples::SignedInt16: return "16-bit signed integer";
    case Samples::UnsignedInt32: return "32-bit integer";
    case Samples::SignedInt32: return "32-bit signed integer";
    case Samples::Double: return "double precision";
    default: return "complex";
    }
}

std::size_t AlphaPlaneSize(std::int32_t width, std::int32_t height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

std::size_t DeepPlaneSize(std::int32_t width, std::int32_t height, Samples samples) {
    const std::size_t sampleBytes = samples == Samples::Float ? sizeof(float) : sizeof(std::uint16_t);
    return AlphaPlaneSize(width, height) * 4 * sampleBytes;
}

namespace {

std::size_t PlaneBufferSize(std::size_t payload) {
    return (payload + (kImageAlignment - 1)) & ~(kImageAlignment - 1);
}

}  // namespace

void* AllocatePlane(std::size_t payload) {
    if (payload == 0) {
        return nullptr;
    }
    const std::size_t size = PlaneBufferSize(payload);
    auto* plane = static_cast<std::uint8_t*>(AllocateBuffer(size, kImageAlignment));
    if (plane != nullptr && size > payload) {
        std::memset(plane + payload, 0, size - payload);
    }
    return plane;
}

void FreePlane(void* plane, std::size_t payload) { FreeBuffer(plane, PlaneBufferSize(payload)); }

void KeepOnly24Bits(Image* image) {
    FreePlane(image->alpha, AlphaPlaneSize(image->width, image->height));
    if (image->deep != nullptr) {
        FreePlane(image->deep, DeepPlaneSize(image->width, image->height, image->samples));
    }
    image->alpha = nullptr;
    image->deep = nullptr;
    image->samples = Samples::Bits8;
    image->storesAlpha = false;
}

namespace {

// A 16-bit picture's 8-bit form: its alpha's high bytes, where any of them
// is not opaque, beside the 24-bit form it already has.
void ReduceToEightBits(Image* image) {
    const std::size_t pixels = AlphaPlaneSize(image->width, image->height);
    const auto* deep = static_cast<const std::uint16_t*>(image->deep);
    std::uint8_t* alpha = nullptr;
    for (std::size_t i = 0; image->storesAlpha && i < pixels; ++i) {
        const auto value = static_cast<std::uint8_t>(deep[4 * i + 3] >> 8);
        if (value != 255 && alpha == nullptr) {
            alpha = static_cast<std::uint8_t*>(AllocatePlane(pixels));
            if (alpha == nullptr) {
                FailOutOfMemory(image->width, image->height);
            }
            std::memset(alpha, 255, i);
        }
        if (alpha != nullptr) {
            alpha[i] = value;
        }
    }
    const bool storesAlpha = image->storesAlpha;
    KeepOnly24Bits(image);
    image->storesAlpha = storesAlpha;
    image->alpha = alpha;
}

}  // namespace

bool MatchSamples(Image* a, Image* b) {
    if ((a->samples == Samples::Float) != (b->samples == Samples::Float)) {
        return false;
    }
    if (a->samples != b->samples || a->samples == Samples::Bits8) {
        for (Image* image : {a, b}) {
            if (image->samples == Samples::Bits16) {
                ReduceToEightBits(image);
            }
        }
    }
    return true;
}

AlphaCollector::AlphaCollector(std::int32_t pictureWidth, std::int32_t height)
    : width(static_cast<std::size_t>(pictureWidth)), payload(AlphaPlaneSize(pictureWidth, height)) {}

AlphaCollector::~AlphaCollector() { FreePlane(plane, payload); }

bool AlphaCollector::TakeRow(std::int32_t y, const std::uint8_t* row) {
    if (plane == nullptr) {
        if (std::all_of(row, row + width, [](std::uint8_t alpha) { return alpha == 255; })) {
            return true;
        }
        plane = static_cast<std::uint8_t*>(AllocatePlane(payload));
        if (plane == nullptr) {
            return false;
        }
        // The rows before were opaque; those after are written as they come.
        std::memset(plane, 255, static_cast<std::size_t>(y) * width);
    }
    std::memcpy(plane + static_cast<std::size_t>(y) * width, row, width);
    return true;
}

void AlphaCollector::Attach(Image* image) {
    image->alpha = plane;
    image->storesAlpha = true;
    plane = nullptr;
}

bool SameDimensions(const Image* a, const Image* b) {
    return a->width == b->width && a->height == b->height;
}

DecodeBuffer::DecodeBuffer(std::int32_t pictureWidth, std::int32_t pictureHeight,
                           std::size_t bytes)
    : width(pictureWidth),
      height(pictureHeight),
      capacity(bytes),
      data(static_cast<std::uint8_t*>(AllocateBuffer(bytes, kImageAlignment))) {}

DecodeBuffer::~DecodeBuffer() { FreeBuffer(data, capacity); }

Image* DecodeBuffer::TakeImage() {
    const std::size_t payload = ImagePayloadSize(width, height);
    const std::size_t size = ImageBufferSize(width, height);
    Image* image = new (std::nothrow) Image{width, height, nullptr};
    if (image == nullptr || data == nullptr) {
        delete image;
        return nullptr;
    }
    if (ShrinkBuffer(data, capacity, size)) {
        image->pixels = data;
    } else {
        image->pixels = static_cast<std::uint8_t*>(AllocateBuffer(size, kImageAlignment));
        if (image->pixels == nullptr && size > 0) {
            delete image;
            return nullptr;
        }
        if (payload > 0) {
            std::memcpy(image->pixels, data, payload);
        }
        FreeBuffer(data, capacity);
    }
    data = nullptr;
    capacity = 0;
    ZeroTail(image);
    return image;
}
