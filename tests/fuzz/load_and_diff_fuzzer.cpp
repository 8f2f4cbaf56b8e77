// libFuzzer target over our own path: bytes -> file -> LoadImageFile ->
// CreateDiffImage. A FatalError is the expected way out for bad input; a
// crash, a sanitizer report or a wrong answer is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <FreeImage.h>

#include "common/log.h"
#include "diff/diff_image.h"
#include "fuzz_input.h"
#include "image/image_file.h"

namespace {

// Both kernels must call a picture identical to itself.
void CheckAgainstItself(const Image* image) {
    for (const DiffMode mode : {DiffMode::AbsDelta, DiffMode::Xor}) {
        if (CreateDiffImage(image, image, mode) != nullptr) {
            std::fprintf(stderr, "a picture differs from itself\n");
            std::abort();
        }
    }
}

// Against another picture of the same size the answer must be "differ"
// exactly when some payload byte differs, and the output byte-exact.
void CheckAgainstPattern(const Image* image) {
    Image* other = CreateImage(image->width, image->height);
    const std::size_t payload = ImagePayloadSize(image->width, image->height);
    for (std::size_t i = 0; i < payload; ++i) {
        other->pixels[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    }
    const bool differ = payload > 0 && std::memcmp(image->pixels, other->pixels, payload) != 0;
    Image* diff = CreateDiffImage(image, other, DiffMode::Xor);
    if ((diff != nullptr) != differ) {
        std::fprintf(stderr, "wrong answer against the pattern\n");
        std::abort();
    }
    for (std::size_t i = 0; diff != nullptr && i < payload; ++i) {
        if (diff->pixels[i] != (image->pixels[i] ^ other->pixels[i])) {
            std::fprintf(stderr, "wrong xor byte at %zu\n", i);
            std::abort();
        }
    }
    DestroyImage(diff);
    DestroyImage(other);
}

// The system's picture library carries no coverage instrumentation, so the
// fuzzer would see every format as the same few branches of ours and drop
// most of its corpus. One distinct comparison per format and outcome
// (traced with -use_value_profile=1) keeps an input of each kind alive.
volatile int sink = 0;

void Feedback(FREE_IMAGE_FORMAT format, int outcome) {
    switch (static_cast<int>(format) * 4 + outcome) {
#define GLIMRA_FEEDBACK_CASES(f) \
    case (f) * 4 + 0: sink = 0; break; \
    case (f) * 4 + 1: sink = 1; break; \
    case (f) * 4 + 2: sink = 2; break;
        GLIMRA_FEEDBACK_CASES(FIF_BMP) GLIMRA_FEEDBACK_CASES(FIF_JPEG)
        GLIMRA_FEEDBACK_CASES(FIF_PNG) GLIMRA_FEEDBACK_CASES(FIF_GIF)
        GLIMRA_FEEDBACK_CASES(FIF_TIFF) GLIMRA_FEEDBACK_CASES(FIF_TARGA)
        GLIMRA_FEEDBACK_CASES(FIF_PPMRAW) GLIMRA_FEEDBACK_CASES(FIF_PGMRAW)
        GLIMRA_FEEDBACK_CASES(FIF_PPM) GLIMRA_FEEDBACK_CASES(FIF_PGM)
#undef GLIMRA_FEEDBACK_CASES
    default: sink = 3; break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = WriteFuzzInput("glimra-fuzz", data, size);
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
    try {
        const PictureFile file = OpenPictureFile(path.c_str());
        Image* image = LoadImageFile(file.get(), kFuzzMaxPixels);
        Feedback(format, image->width > 64 || image->height > 64 ? 2 : 1);
        CheckAgainstItself(image);
        // The pattern's answer is the 24-bit payload's alone.
        KeepOnly24Bits(image);
        CheckAgainstPattern(image);
        DestroyImage(image);
    } catch (const FatalError&) {
        // This is how bad input must end.
        Feedback(format, 0);
    }
    std::remove(path.c_str());
    return 0;
}
