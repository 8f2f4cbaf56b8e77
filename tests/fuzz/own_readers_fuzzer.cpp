// libFuzzer target: our own PNG, BMP and JPEG readers against the picture library
// on mutated files. Whatever our readers take, the library must read to
// the same 24-bit pixels, alpha and 16-bit samples; anything else they
// must decline. The library reads in a child process: it crashes on some
// files (FreeImage is old), and its crash must not end the fuzzing of
// our readers, nor stop a run at a seed before it starts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/log.h"
#include "fuzz_input.h"
#include "image/image_file.h"
#include "image/own_readers.h"
#include "support/libpng_oracle.h"

namespace {

bool SamePlane(const void* a, const void* b, std::size_t bytes) {
    return (a == nullptr) == (b == nullptr) && (a == nullptr || std::memcmp(a, b, bytes) == 0);
}

struct PictureHead {
    std::int32_t width;
    std::int32_t height;
    Samples samples;
    bool storesAlpha;
    bool hasAlpha;
    bool hasDeep;
};

bool WriteReference(const Image& image, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const PictureHead head{image.width, image.height, image.samples, image.storesAlpha, image.alpha != nullptr,
                           image.deep != nullptr};
    bool written = file != nullptr && std::fwrite(&head, sizeof head, 1, file) == 1 &&
                   std::fwrite(image.pixels, 1, ImagePayloadSize(image.width, image.height), file) ==
                       ImagePayloadSize(image.width, image.height);
    if (written && head.hasAlpha) {
        const std::size_t bytes = AlphaPlaneSize(image.width, image.height);
        written = std::fwrite(image.alpha, 1, bytes, file) == bytes;
    }
    if (written && head.hasDeep) {
        const std::size_t bytes = DeepPlaneSize(image.width, image.height, image.samples);
        written = std::fwrite(image.deep, 1, bytes, file) == bytes;
    }
    return file != nullptr && std::fclose(file) == 0 && written;
}

Image* ReadReference(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    PictureHead head{};
    if (file == nullptr || std::fread(&head, sizeof head, 1, file) != 1) {
        std::abort();
    }
    Image* image = CreateImage(head.width, head.height);
    image->samples = head.samples;
    image->storesAlpha = head.storesAlpha;
    bool read = std::fread(image->pixels, 1, ImagePayloadSize(head.width, head.height), file) ==
                ImagePayloadSize(head.width, head.height);
    if (head.hasAlpha) {
        const std::size_t bytes = AlphaPlaneSize(head.width, head.height);
        image->alpha = static_cast<std::uint8_t*>(AllocatePlane(bytes));
        read = read && std::fread(image->alpha, 1, bytes, file) == bytes;
    }
    if (head.hasDeep) {
        const std::size_t bytes = DeepPlaneSize(head.width, head.height, head.samples);
        image->deep = AllocatePlane(bytes);
        read = read && std::fread(image->deep, 1, bytes, file) == bytes;
    }
    if (!read) {
        std::abort();
    }
    std::fclose(file);
    return image;
}

// The library's reading of `path`, made by a child process: null when the
// library crashed there (no verdict); a finding when it refused the file.
Image* ReadWithLibraryInChild(const std::string& path) {
    const std::string referencePath = path + ".reference";
    const pid_t child = fork();
    if (child < 0) {
        std::abort();
    }
    if (child == 0) {
        // The library's own crash reports are not ours to read: neither on
        // standard error nor where libFuzzer sends the sanitizer's reports
        // (files named after the process in the working folder).
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(quiet)));
        try {
            Image* reference = LoadImageFileWithLibrary(path.c_str());
            _exit(WriteReference(*reference, referencePath) ? 0 : 4);
        } catch (const FatalError&) {
            _exit(3);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 3) {
        Finding("our reader took a file the library cannot read");
    }
    Image* reference = code == 0 ? ReadReference(referencePath) : nullptr;
    std::remove(referencePath.c_str());
    return reference;
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
        Image* reference = ReadWithLibraryInChild(path);
        if (reference == nullptr) {
            DestroyImage(own.image);
            std::remove(path.c_str());
            return 0;
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
