#include "support/png_files.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "support/files.h"

const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::string PngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    PutBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    chunk += body;
    PutBigEndian(chunk, static_cast<std::uint32_t>(
                            crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                  static_cast<uInt>(body.size()))));
    return chunk;
}

std::string PngHeaderChunk(std::uint32_t width, std::uint32_t height, int bitDepth,
                           int colourType, int interlace) {
    std::string header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header.push_back(static_cast<char>(bitDepth));
    header.push_back(static_cast<char>(colourType));
    header.push_back(0);  // deflate
    header.push_back(0);  // adaptive filtering
    header.push_back(static_cast<char>(interlace));
    return PngChunk("IHDR", header);
}

std::string Deflated(const std::string& bytes, int level) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<Bytef> out(size);
    if (compress2(out.data(), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                  static_cast<uLong>(bytes.size()), level) != Z_OK) {
        throw std::runtime_error("zlib refused to compress");
    }
    return std::string(reinterpret_cast<const char*>(out.data()), size);
}

std::string MakePng(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType,
                    const std::string& scanlines, const std::string& chunksBeforeData,
                    int interlace, std::size_t idatSize) {
    std::string file = kPngSignature + PngHeaderChunk(width, height, bitDepth, colourType, interlace) +
                       chunksBeforeData;
    const std::string stream = Deflated(scanlines);
    for (std::size_t at = 0; at < stream.size(); at += idatSize) {
        file += PngChunk("IDAT", stream.substr(at, idatSize));
    }
    return file + PngChunk("IEND", "");
}

namespace {

int PaethPredictor(int left, int up, int upLeft) {
    const int p = left + up - upLeft;
    const int pa = std::abs(p - left);
    const int pb = std::abs(p - up);
    const int pc = std::abs(p - upLeft);
    if (pa <= pb && pa <= pc) {
        return left;
    }
    return pb <= pc ? up : upLeft;
}

}  // namespace

std::string FilterRows(const std::string& raw, std::size_t rowBytes, std::size_t bpp,
                       const std::function<int(std::size_t row)>& filterOf) {
    std::string out;
    const std::string zeros(rowBytes, '\0');
    for (std::size_t y = 0; y * rowBytes < raw.size(); ++y) {
        const auto* row = reinterpret_cast<const unsigned char*>(raw.data() + y * rowBytes);
        const auto* up = reinterpret_cast<const unsigned char*>(
            y == 0 ? zeros.data() : raw.data() + (y - 1) * rowBytes);
        const int filter = filterOf(y);
        out.push_back(static_cast<char>(filter));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int left = i >= bpp ? row[i - bpp] : 0;
            const int upLeft = i >= bpp ? up[i - bpp] : 0;
            int predicted = 0;
            switch (filter) {
            case 1: predicted = left; break;
            case 2: predicted = up[i]; break;
            case 3: predicted = (left + up[i]) / 2; break;
            case 4: predicted = PaethPredictor(left, up[i], upLeft); break;
            default: break;
            }
            out.push_back(static_cast<char>((row[i] - predicted) & 0xFF));
        }
    }
    return out;
}

std::string Adam7Scanlines(const std::string& raw, std::uint32_t width, std::uint32_t height,
                           std::size_t bitsPerPixel, const std::function<int(std::size_t row)>& filterOf) {
    static const std::uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const std::size_t rowBytes = (width * bitsPerPixel + 7) / 8;
    const std::size_t bpp = std::max<std::size_t>(1, bitsPerPixel / 8);
    std::string out;
    for (const auto& pass : kPasses) {
        if (pass[0] >= width || pass[1] >= height) {
            continue;
        }
        const std::size_t columns = (width - pass[0] + pass[2] - 1) / pass[2];
        const std::size_t passRowBytes = (columns * bitsPerPixel + 7) / 8;
        std::string passRaw;
        for (std::uint32_t y = pass[1]; y < height; y += pass[3]) {
            std::string row(passRowBytes, '\0');
            for (std::size_t i = 0; i < columns; ++i) {
                const std::size_t x = pass[0] + i * pass[2];
                if (bitsPerPixel >= 8) {
                    row.replace(i * bpp, bpp, raw, y * rowBytes + x * bpp, bpp);
                    continue;
                }
                const std::size_t from = x * bitsPerPixel;
                const auto byte = static_cast<unsigned char>(raw[y * rowBytes + from / 8]);
                const unsigned sample = (byte >> (8 - bitsPerPixel - from % 8)) & ((1u << bitsPerPixel) - 1);
                const std::size_t to = i * bitsPerPixel;
                row[to / 8] = static_cast<char>(row[to / 8] | sample << (8 - bitsPerPixel - to % 8));
            }
            passRaw += row;
        }
        out += FilterRows(passRaw, passRowBytes, bpp, filterOf);
    }
    return out;
}
