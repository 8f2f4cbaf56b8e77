#include "stream/jpeg_row_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf landing;
};

[[noreturn]] void JumpToLanding(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->landing, 1);
}

// Warnings (corrupt or missing data) do not stop the library's load: it
// decodes what there is, and so does this reader. Nothing is printed.
void KeepQuiet(j_common_ptr, int) {}

}  // namespace

// libjpeg reports errors by longjmp from its error manager. The jumps land
// in the members of Decoder, each of which sets its own landing point and
// holds nothing that a skipped destructor would leak.
struct JpegRowReader::Decoder {
    jpeg_decompress_struct info{};
    ErrorManager errors{};

    Decoder() {
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = JumpToLanding;
        errors.base.emit_message = KeepQuiet;
        jpeg_create_decompress(&info);
    }
    ~Decoder() { jpeg_destroy_decompress(&info); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The header of the file, read from where it stands.
    bool ReadHeader(std::FILE* input) {
        if (setjmp(errors.landing) != 0) {
            return false;
        }
        jpeg_stdio_src(&info, input);
        return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
    }

    // Whether the picture is one this reader decodes exactly as the library.
    const char* Unsupported() const {
        if (info.data_precision != 8) {
            return "not 8 bits a sample";
        }
        const bool grey = info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE;
        const bool colour = info.num_components == 3 &&
                            (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB);
        return grey || colour ? nullptr : "CMYK, YCCK or unknown colours";
    }

    bool StartDecoding() {
        if (setjmp(errors.landing) != 0) {
            return false;
        }
        info.dct_method = JDCT_ISLOW;
        info.do_fancy_upsampling = TRUE;
        info.out_color_space = JCS_EXT_BGR;
        return jpeg_start_decompress(&info) && info.output_width == info.image_width &&
               info.output_height == info.image_height && info.output_components == 3;
    }

    // The next `count` rows, `stride` bytes apart from `pixels`.
    bool Decode(std::uint8_t* pixels, std::size_t stride, std::uint32_t count) {
        if (setjmp(errors.landing) != 0) {
            return false;
        }
        JSAMPROW rows[8];
        for (std::uint32_t done = 0; done < count;) {
            const std::uint32_t now = std::min<std::uint32_t>(8, count - done);
            for (std::uint32_t i = 0; i < now; ++i) {
                rows[i] = pixels + (done + i) * stride;
            }
            const JDIMENSION read = jpeg_read_scanlines(&info, rows, now);
            if (read == 0) {
                return false;
            }
            done += read;
        }
        return true;
    }

    bool FinishDecoding() {
        if (setjmp(errors.landing) != 0) {
            return false;
        }
        jpeg_finish_decompress(&info);
        return true;
    }
};

JpegRowReader::JpegRowReader(std::FILE* input, std::uint64_t pixelLimit)
    : decoder(new Decoder), file(input), maxPixels(pixelLimit) {}

JpegRowReader::~JpegRowReader() = default;

const RowFacts& JpegRowReader::Facts() const { return facts; }

const char* JpegRowReader::Start() {
    if (!decoder->ReadHeader(file)) {
        return "header";
    }
    if (const char* reason = decoder->Unsupported()) {
        return reason;
    }
    // libjpeg limits each side to 65500.
    facts.width = decoder->info.image_width;
    facts.height = decoder->info.image_height;
    if (maxPixels != 0 && std::uint64_t{facts.width} * facts.height > maxPixels) {
        return kTooManyPixels;
    }
    return decoder->StartDecoding() ? nullptr : "compressed data";
}

const char* JpegRowReader::ReadRows(std::uint32_t count, const RowsOut& out) {
    return decoder->Decode(out.pixels, out.pixelStride, count) ? nullptr : "compressed data";
}

const char* JpegRowReader::Finish() { return decoder->FinishDecoding() ? nullptr : "compressed data"; }
