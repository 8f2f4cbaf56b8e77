#include "run/same_bytes.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace {

bool SameContents(std::FILE* fileA, std::FILE* fileB) {
    constexpr std::size_t kChunk = std::size_t{256} << 10;
    const std::unique_ptr<unsigned char[]> chunks(new (std::nothrow) unsigned char[2 * kChunk]);
    if (chunks == nullptr) {
        return false;
    }
    unsigned char* chunkA = chunks.get();
    unsigned char* chunkB = chunkA + kChunk;
    for (;;) {
        const std::size_t gotA = std::fread(chunkA, 1, kChunk, fileA);
        const std::size_t gotB = std::fread(chunkB, 1, kChunk, fileB);
        if (std::ferror(fileA) || std::ferror(fileB) || gotA != gotB ||
            std::memcmp(chunkA, chunkB, gotA) != 0) {
            return false;
        }
        if (gotA < kChunk) {
            return true;
        }
    }
}

}  // namespace

bool FilesHaveSameBytes(std::FILE* fileA, std::FILE* fileB) {
    FileIdentity a;
    FileIdentity b;
    if (fileA == nullptr || fileB == nullptr || !QueryOpenFileIdentity(fileA, a) ||
        !QueryOpenFileIdentity(fileB, b) || !a.isRegular || !b.isRegular || a.size != b.size) {
        return false;
    }
    if (SameFile(a, b)) {
        return true;
    }
    const bool same = SameContents(fileA, fileB);
    std::rewind(fileA);
    std::rewind(fileB);
    return same;
}
