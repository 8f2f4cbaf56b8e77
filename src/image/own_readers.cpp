#include "image/own_readers.h"

#include <cstring>

#include "platform/platform.h"

OwnFormat RecogniseOwnFormat(const std::uint8_t* head, std::size_t size) {
    // The library asks its formats in turn and BMP comes first; none of
    // those before PNG can claim a file that starts with its signature.
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(head, kPngSignature, 8) == 0) {
        return OwnFormat::Png;
    }
    if (size >= 2 && head[0] == 'B' && head[1] == 'M') {
        return OwnFormat::Bmp;
    }
    // The library asks for FF D8 alone; a marker must follow.
    if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        return OwnFormat::Jpeg;
    }
    return OwnFormat::None;
}

bool RefuseTooManyPixels(std::uint32_t width, std::uint32_t height, std::uint64_t maxPixels,
                         ReadResult& result) {
    if (maxPixels == 0 || std::uint64_t{width} * height <= maxPixels) {
        return false;
    }
    result = ReadResult{nullptr, nullptr, true, width, height};
    return true;
}

namespace {

// The format of a regular file, from its first bytes; the file is left at
// its start.
OwnFormat FormatOf(std::FILE* file, std::uint64_t& size) {
    FileIdentity identity;
    if (!QueryOpenFileIdentity(file, identity) || !identity.isRegular) {
        return OwnFormat::None;
    }
    size = identity.size;
    std::uint8_t head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return OwnFormat::None;
    }
    return RecogniseOwnFormat(head, got);
}

}  // namespace

bool LooksLikeOwnFormat(std::FILE* file) {
    std::uint64_t size = 0;
    return FormatOf(file, size) != OwnFormat::None;
}

ReadResult ReadWithOwnReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples) {
    std::uint64_t size = 0;
    switch (FormatOf(file, size)) {
    case OwnFormat::Png: return ReadPng(file, maxPixels, deepSamples);
    case OwnFormat::Bmp: return ReadBmp(file, size, maxPixels);
    case OwnFormat::Jpeg: return ReadJpeg(file, maxPixels);
    default: return Declined("not a format of ours");
    }
}
