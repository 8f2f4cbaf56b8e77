#include "image/png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "common/log.h"
#include "image/png_rows.h"
#include "platform/platform.h"

namespace {

void PutBigEndian32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// One chunk: length, type, data, CRC of type and data.
bool WriteChunk(std::FILE* file, const char* type, const std::uint8_t* data, std::size_t size) {
    std::uint8_t head[8];
    PutBigEndian32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    std::uint8_t tail[4];
    // A null buffer would make libdeflate start the checksum anew.
    PutBigEndian32(tail, libdeflate_crc32(libdeflate_crc32(0, head + 4, 4), size == 0 ? head : data, size));
    return std::fwrite(head, 1, 8, file) == 8 && std::fwrite(data, 1, size, file) == size &&
           std::fwrite(tail, 1, 4, file) == 4;
}

}  // namespace

PngWriter::Block::~Block() { FreeBuffer(data, size); }

bool PngWriter::Block::Reserve(std::size_t bytes) {
    if (bytes <= size) {
        return true;
    }
    FreeBuffer(data, size);
    data = static_cast<std::uint8_t*>(AllocateBuffer(bytes, 16));
    size = data != nullptr ? bytes : 0;
    return data != nullptr;
}

PngWriter::PngWriter(int level) : compressor(libdeflate_alloc_compressor(level)) {}

PngWriter::~PngWriter() { libdeflate_free_compressor(compressor); }

void PngWriter::Write(const Image* image, AtomicFile& file) {
    const auto width = static_cast<std::size_t>(image->width);
    const auto height = static_cast<std::size_t>(image->height);
    // Rows led by their filter byte (0: none), red-green-blue.
    const std::size_t rowBytes = 1 + 3 * width;
    const std::size_t rawSize = rowBytes * height;
    if (compressor == nullptr || !raw.Reserve(rawSize)) {
        FailOutOfMemory(image->width, image->height);
    }
    for (std::size_t y = 0; y < height; ++y) {
        std::uint8_t* row = raw.data + y * rowBytes;
        row[0] = 0;
        // Blue-green-red to red-green-blue is the same swap.
        SwapRedAndBlue(image->pixels + y * 3 * width, row + 1, width);
    }
    const std::size_t bound = libdeflate_zlib_compress_bound(compressor, rawSize);
    if (!stream.Reserve(bound)) {
        FailOutOfMemory(image->width, image->height);
    }
    const std::size_t streamSize = libdeflate_zlib_compress(compressor, raw.data, rawSize, stream.data, bound);

    std::uint8_t header[13];
    PutBigEndian32(header, static_cast<std::uint32_t>(width));
    PutBigEndian32(header + 4, static_cast<std::uint32_t>(height));
    const std::uint8_t rest[5] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, no filter method, no interlace
    std::memcpy(header + 8, rest, sizeof rest);
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::FILE* out = file.Stream();
    bool written = out != nullptr && streamSize != 0 && std::fwrite(kSignature, 1, 8, out) == 8 &&
                   WriteChunk(out, "IHDR", header, sizeof header);
    // A chunk holds at most 2^31 - 1 bytes.
    constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
    for (std::size_t at = 0; written && at < streamSize; at += kMaxChunk) {
        written = WriteChunk(out, "IDAT", stream.data + at, std::min(kMaxChunk, streamSize - at));
    }
    written = written && WriteChunk(out, "IEND", nullptr, 0);
    if (!file.Close() || !written) {
        throw FatalError{Failure::SaveFailed};
    }
}
