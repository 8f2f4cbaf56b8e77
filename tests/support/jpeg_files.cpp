#include "support/jpeg_files.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

std::string MakeJpeg(const Pixels24& pixels, const JpegSettings& settings) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(pixels.width);
    info.image_height = static_cast<JDIMENSION>(pixels.height);
    const bool cmyk = settings.colour == JpegSettings::Cmyk;
    info.input_components = settings.colour == JpegSettings::Grey ? 1 : cmyk ? 4 : 3;
    // Pixels24 holds blue, green, red.
    info.in_color_space = settings.colour == JpegSettings::Grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.quality, TRUE);
    if (settings.colour == JpegSettings::Rgb) {
        jpeg_set_colorspace(&info, JCS_RGB);
    }
    if (info.num_components >= 3) {
        info.comp_info[0].h_samp_factor = settings.horizontalSampling;
        info.comp_info[0].v_samp_factor = settings.verticalSampling;
    }
    info.restart_in_rows = settings.restartRows;
    info.arith_code = settings.arithmetic ? TRUE : FALSE;
    if (settings.progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    const std::size_t width = static_cast<std::size_t>(pixels.width);
    std::vector<unsigned char> row(width * 4);
    while (info.next_scanline < info.image_height) {
        const std::uint8_t* source = &pixels.bytes[info.next_scanline * width * 3];
        for (std::size_t x = 0; x < width; ++x) {
            if (settings.colour == JpegSettings::Grey) {
                row[x] = source[3 * x + 1];
            } else if (cmyk) {
                for (int c = 0; c < 3; ++c) {
                    row[4 * x + static_cast<std::size_t>(c)] = source[3 * x + static_cast<std::size_t>(c)];
                }
                row[4 * x + 3] = static_cast<unsigned char>(x * 7);
            } else {
                for (int c = 0; c < 3; ++c) {
                    row[3 * x + static_cast<std::size_t>(c)] = source[3 * x + static_cast<std::size_t>(c)];
                }
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    std::free(out);
    return bytes;
}
