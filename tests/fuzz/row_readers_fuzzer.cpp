// libFuzzer target: the row readers (PNG, BMP, JPEG) in batches of every
// size against the same readers writing a whole picture (which the readers
// target holds to the library's pixels). The rows, alpha and 16-bit
// samples must be the same however the rows are asked for (also in two
// steps, stored and then turned, where a reader can), and so must the
// verdict.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "image/image_file.h"
#include "image/own_readers.h"

namespace {

bool SameRows(const Image& frame, std::uint32_t y, std::uint32_t rows, const std::vector<std::uint8_t>& pixels,
              const std::vector<std::uint8_t>& alpha, const std::vector<std::uint16_t>& wide) {
    const std::size_t width = static_cast<std::size_t>(frame.width);
    const std::uint8_t* framePixels = frame.pixels + y * width * 3;
    bool same = std::memcmp(framePixels, pixels.data(), rows * width * 3) == 0;
    if (!alpha.empty()) {
        const std::uint8_t* frameAlpha = frame.alpha + y * width;
        same = same && (frame.alpha == nullptr ? std::all_of(alpha.data(), alpha.data() + rows * width,
                                                             [](std::uint8_t a) { return a == 255; })
                                               : std::memcmp(frameAlpha, alpha.data(), rows * width) == 0);
    }
    if (!wide.empty()) {
        const auto* frameWide = static_cast<const std::uint16_t*>(frame.deep) + y * width * 4;
        same = same && std::memcmp(frameWide, wide.data(), rows * width * 8) == 0;
    }
    return same;
}

// `rows` rows stored and turned into `out`.
const char* ReadInTwoSteps(RowReader& reader, std::uint32_t rows, std::vector<std::uint8_t>& room, const RowsOut& out) {
    room.resize(reader.StoredRoomBytes(rows));
    StoredRows stored;
    // Turned as they are read, or afterwards.
    const bool asRead = rows % 2 == 0;
    if (const char* reason = reader.ReadStoredRows(rows, room.data(), stored, asRead ? &out : nullptr)) {
        return reason;
    }
    if (!asRead) {
        reader.ConvertStoredRows(stored, rows, out);
    }
    return nullptr;
}

// Every row of a started reader in batches of random sizes, each held to
// the whole picture's rows where there is one; then the end of the file.
const char* ReadInBatches(RowReader& reader, const Image* frame, unsigned draw) {
    const RowFacts& facts = reader.Facts();
    // Up to seven rows a batch, fewer where rows are wide: a row may be all
    // of the pixel limit, and the sanitizer's allocations stop at 64 MB.
    const auto kMostRows = static_cast<std::uint32_t>(
        std::clamp<std::uint64_t>((std::uint64_t{8} << 20) / (std::uint64_t{facts.width} * 8 + 1), 1, 7));
    std::vector<std::uint8_t> pixels(std::size_t{kMostRows} * facts.width * 3);
    std::vector<std::uint8_t> alpha(facts.alphaRows ? std::size_t{kMostRows} * facts.width : 0);
    std::vector<std::uint16_t> wide(facts.wide ? std::size_t{kMostRows} * facts.width * 4 : 0);
    const RowsOut out{pixels.data(), std::size_t{facts.width} * 3, alpha.empty() ? nullptr : alpha.data(),
                      facts.width, wide.empty() ? nullptr : wide.data(), std::size_t{facts.width} * 4};
    std::vector<std::uint8_t> room;
    for (std::uint32_t y = 0; y < facts.height;) {
        draw = draw * 1103515245u + 12345u;
        const std::uint32_t rows = std::min<std::uint32_t>(facts.height - y, 1 + (draw >> 8) % kMostRows);
        const bool twoSteps = reader.StoredForm() != 0 && (draw >> 20) % 2 == 0;
        if (const char* reason = twoSteps ? ReadInTwoSteps(reader, rows, room, out) : reader.ReadRows(rows, out)) {
            return reason;
        }
        // Rows are provisional until the file is read to its end: a file
        // the whole picture declines may give good rows first.
        if (frame != nullptr && !SameRows(*frame, y, rows, pixels, alpha, wide)) {
            Finding("rows asked for in batches differ from the whole picture's");
        }
        y += rows;
    }
    return reader.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = WriteFuzzInput("glimra-row-readers-fuzz", data, size);
    const PictureFile frameFile = OpenPictureFile(path.c_str());
    const ReadResult frame = ReadWithOwnReader(frameFile.get(), kFuzzMaxPixels);
    const PictureFile file = OpenPictureFile(path.c_str());
    const std::unique_ptr<RowReader> rowReader = OpenOwnRowReader(file.get(), kFuzzMaxPixels, true);
    if (rowReader == nullptr) {
        DestroyImage(frame.image);
        return 0;
    }
    RowReader& reader = *rowReader;
    const char* reason = reader.Start();
    if (reason == nullptr) {
        reason = ReadInBatches(reader, frame.image, size > 0 ? data[size - 1] : 1u);
    }
    if ((reason == nullptr) != (frame.image != nullptr)) {
        Finding("the rows and the whole picture have different verdicts");
    }
    DestroyImage(frame.image);
    std::remove(path.c_str());
    return 0;
}
