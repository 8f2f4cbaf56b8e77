#include "support/hostile_files.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "support/files.h"
#include "support/png_files.h"


std::string BmpHeaderOnly(std::uint32_t width, std::uint32_t height) {
    std::string file = "BM";
    PutLittleEndian(file, 54, 4);  // file size as it really is
    PutLittleEndian(file, 0, 4);
    PutLittleEndian(file, 54, 4);  // offset of the (missing) pixel data
    PutLittleEndian(file, 40, 4);  // BITMAPINFOHEADER
    PutLittleEndian(file, width, 4);
    PutLittleEndian(file, height, 4);
    PutLittleEndian(file, 1, 2);   // planes
    PutLittleEndian(file, 24, 2);  // bits per pixel
    for (int i = 0; i < 6; ++i) {
        PutLittleEndian(file, 0, 4);  // BI_RGB, size, resolution, colours
    }
    return file;
}

std::string PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    return kPngSignature + PngHeaderChunk(width, height) + PngChunk("IEND", "");
}

std::string PnmHeaderOnly(std::uint32_t width, std::uint32_t height) {
    return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
}

void WriteBlackPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                   bool markLastPixel) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    const auto put = [&](const std::string& bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            throw std::runtime_error("cannot write " + path);
        }
    };
    put(kPngSignature + PngHeaderChunk(width, height));

    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_RLE);
    std::vector<unsigned char> row(1 + static_cast<std::size_t>(width) * 3, 0);  // filter 0
    std::vector<unsigned char> out(1 << 20);
    for (std::uint32_t y = 0; y < height; ++y) {
        const bool last = y + 1 == height;
        if (last && markLastPixel) {
            row[row.size() - 3] = 1;
            row[row.size() - 2] = 2;
            row[row.size() - 1] = 3;
        }
        stream.next_in = row.data();
        stream.avail_in = static_cast<uInt>(row.size());
        int status = Z_OK;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            const std::size_t produced = out.size() - stream.avail_out;
            if (produced > 0) {
                put(PngChunk("IDAT", std::string(out.begin(), out.begin() + produced)));
            }
        } while (stream.avail_out == 0 || (last && status != Z_STREAM_END));
    }
    deflateEnd(&stream);
    put(PngChunk("IEND", ""));
    if (std::fclose(file) != 0) {
        throw std::runtime_error("cannot close " + path);
    }
}
