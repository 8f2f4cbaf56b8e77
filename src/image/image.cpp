#include "image/image.h"

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
        throw FatalError{Failure::OutOfMemory, static_cast<std::uint64_t>(width),
                         static_cast<std::uint64_t>(height), 0};
    }
    ZeroTail(image);
    return image;
}

void DestroyImage(Image* image) {
    if (image == nullptr) {
        return;
    }
    FreeBuffer(image->pixels, ImageBufferSize(image->width, image->height));
    delete image;
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
