#include "diff/diff_image.h"

#include "diff/diff_kernels.h"

Image* CreateDiffImage(const Image* a, const Image* b, DiffMode mode) {
    Image* result = CreateImage(a->width, a->height);
    const std::size_t blocks = DiffBlockCount(ImagePayloadSize(a->width, a->height));
    const bool differ =
        mode == DiffMode::Xor ? DiffXor(a->pixels, b->pixels, result->pixels, blocks)
                              : DiffAbsDelta(a->pixels, b->pixels, result->pixels, blocks);
    if (!differ) {
        DestroyImage(result);
        return nullptr;
    }
    return result;
}

bool ImagesDiffer(const Image* a, const Image* b) {
    return CompareBlocks(a->pixels, b->pixels,
                         DiffBlockCount(ImagePayloadSize(a->width, a->height)));
}
