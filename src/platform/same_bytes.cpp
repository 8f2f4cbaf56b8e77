#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace {

bool SameContents(std::FILE* fileA, std::FILE* fileB) {
    constexpr std::size_t kChunk = std::size_t{256} << 10;
    auto* chunkA = static_cast<unsigned char*>(std::malloc(2 * kChunk));
    if (chunkA == nullptr) {
        return false;
    }
    unsigned char* chunkB = chunkA + kChunk;
    bool same = true;
    for (;;) {
        const std::size_t gotA = std::fread(chunkA, 1, kChunk, fileA);
        const std::size_t gotB = std::fread(chunkB, 1, kChunk, fileB);
        if (std::ferror(fileA) || std::ferror(fileB) || gotA != gotB ||
            std::memcmp(chunkA, chunkB, gotA) != 0) {
            same = false;
            break;
        }
        if (gotA < kChunk) {
            break;
        }
    }
    std::free(chunkA);
    return same;
}

}  // namespace

bool FilesHaveSameBytes(const char* pathA, const char* pathB) {
    bool sameFile = false;
    if (!RegularFilesOfEqualSize(pathA, pathB, sameFile)) {
        return false;
    }
    if (sameFile) {
        return true;
    }
    std::FILE* fileA = std::fopen(pathA, "rb");
    if (fileA == nullptr) {
        return false;
    }
    std::FILE* fileB = std::fopen(pathB, "rb");
    const bool same = fileB != nullptr && SameContents(fileA, fileB);
    if (fileB != nullptr) {
        std::fclose(fileB);
    }
    std::fclose(fileA);
    return same;
}
