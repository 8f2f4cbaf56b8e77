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
    return OwnFormat::None;
}

ReadResult ReadWithOwnReader(std::FILE* file) {
    FileIdentity identity;
    if (!QueryOpenFileIdentity(file, identity) || !identity.isRegular) {
        return Declined("not a regular file");
    }
    std::uint8_t head[8] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return Declined("not seekable");
    }
    switch (RecogniseOwnFormat(head, got)) {
    case OwnFormat::Png: return ReadPng(file, identity.size);
    case OwnFormat::Bmp: return ReadBmp(file, identity.size);
    default: return Declined("not a format of ours");
    }
}
