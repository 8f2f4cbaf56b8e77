// libFuzzer target: our own PNG, BMP and JPEG readers against the picture library
// on mutated files. Whatever our readers take, the library must read to
// the same 24-bit pixels, alpha and 16-bit samples; anything else they
// must decline.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/log.h"
#include "fuzz_input.h"
#include "image/image_file.h"
#include "image/own_readers.h"
#include "support/libpng_oracle.h"

// As for the other target: a header claiming a huge picture must take the
// failure road, not end as a sanitizer report.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=64:detect_leaks=1";
}

namespace {

[[noreturn]] void Finding(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool SamePlane(const void* a, const void* b, std::size_t bytes) {
    return (a == nullptr) == (b == nullptr) && (a == nullptr || std::memcmp(a, b, bytes) == 0);
}

bool SameDeepSamples(const Image& a, const Image& b) {
    return a.samples == b.samples && a.storesAlpha == b.storesAlpha &&
           SamePlane(a.alpha, b.alpha, AlphaPlaneSize(a.width, a.height)) &&
           SamePlane(a.deep, b.deep, DeepPlaneSize(a.width, a.height, a.samples));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = WriteFuzzInput("glimra-readers-fuzz", data, size);
    const ReadResult own = ReadWithOwnReader(OpenPictureFile(path.c_str()).get(), kFuzzMaxPixels);
    if (own.image != nullptr) {
        Image* reference = nullptr;
        try {
            reference = LoadImageFileWithLibrary(path.c_str());
        } catch (const FatalError&) {
            Finding("our reader took a file the library cannot read");
        }
        const std::size_t bytes = ImageBufferSize(own.image->width, own.image->height);
        if (reference->width != own.image->width || reference->height != own.image->height ||
            std::memcmp(reference->pixels, own.image->pixels, bytes) != 0) {
            Finding("our reader and the library read different pixels");
        }
        // Where the library errs on a grey colour key, libpng's alpha holds.
        if (HasLowGreyColourKey(data, size)) {
            const std::vector<std::uint8_t> alpha = AlphaByLibpng(path);
            const std::size_t pixels = AlphaPlaneSize(own.image->width, own.image->height);
            if (alpha.size() != pixels ||
                (own.image->alpha != nullptr ? std::memcmp(own.image->alpha, alpha.data(), pixels) != 0
                                             : std::count(alpha.begin(), alpha.end(), 255) != static_cast<long>(pixels))) {
                Finding("our reader and libpng read different alpha");
            }
        } else if (!SameDeepSamples(*reference, *own.image)) {
            Finding("our reader and the library read different alpha or 16-bit samples");
        }
        DestroyImage(reference);
        DestroyImage(own.image);
    }
    std::remove(path.c_str());
    return 0;
}
