// Our JPEG reader, on libjpeg-turbo, the decoder the picture library
// itself calls: with the settings the library's load gets from us (the
// exact inverse DCT, smooth chroma upsampling) the same decoder gives the
// same pixels, straight into the picture in the library's channel order
// (blue, green, red), grey replicated into all three. CMYK and YCCK files,
// other precisions and anything libjpeg reports as an error are declined
// and go to the library. Markers are skipped unread: no EXIF is parsed.
//
// The decoder is fed as the library feeds it: 4 KiB at a time from the
// file, a fake end marker once the file ends (libjpeg's stdio source, which
// the library's own source copies). libjpeg recovers from damaged data
// differently depending on where its input buffer ends, so a file given
// whole decoded to other pixels than the library's.
//
// libjpeg reports errors by longjmp from its error manager. The jumps land
// in the members of JpegDecoder, each of which sets its own landing point
// and holds nothing that a skipped destructor would leak; the C++ objects
// that own resources live in the caller.
#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "image/own_readers.h"

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

class JpegDecoder {
public:
    JpegDecoder() {
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = JumpToLanding;
        errors.base.emit_message = KeepQuiet;
        jpeg_create_decompress(&info);
    }
    ~JpegDecoder() { jpeg_destroy_decompress(&info); }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // The header of the file, read from where it stands; false on any
    // error.
    bool ReadHeader(std::FILE* file) {
        if (setjmp(errors.landing) != 0) {
            return false;
        }
        jpeg_stdio_src(&info, file);
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

    JDIMENSION Width() const { return info.image_width; }
    JDIMENSION Height() const { return info.image_height; }

    // Decodes every row into `pixels` (rows of width * 3 bytes, top first);
    // false on any error.
    bool Decode(std::uint8_t* pixels) {
        if (setjmp(errors.landing) != 0) {
            return false;
        }
        info.dct_method = JDCT_ISLOW;
        info.do_fancy_upsampling = TRUE;
        info.out_color_space = JCS_EXT_BGR;
        if (!jpeg_start_decompress(&info) || info.output_width != info.image_width ||
            info.output_height != info.image_height || info.output_components != 3) {
            return false;
        }
        const std::size_t rowBytes = std::size_t{info.output_width} * 3;
        JSAMPROW rows[8];
        while (info.output_scanline < info.output_height) {
            const JDIMENSION first = info.output_scanline;
            const JDIMENSION count = std::min<JDIMENSION>(8, info.output_height - first);
            for (JDIMENSION i = 0; i < count; ++i) {
                rows[i] = pixels + (first + i) * rowBytes;
            }
            if (jpeg_read_scanlines(&info, rows, count) == 0) {
                return false;
            }
        }
        jpeg_finish_decompress(&info);
        return true;
    }

private:
    jpeg_decompress_struct info{};
    ErrorManager errors{};
};

}  // namespace

ReadResult ReadJpeg(std::FILE* file, std::uint64_t maxPixels) {
    JpegDecoder decoder;
    if (!decoder.ReadHeader(file)) {
        return Declined("header");
    }
    if (const char* reason = decoder.Unsupported()) {
        return Declined(reason);
    }
    ReadResult refused;
    if (RefuseTooManyPixels(decoder.Width(), decoder.Height(), maxPixels, refused)) {
        return refused;
    }
    // libjpeg limits each side to 65500, which an int32 holds.
    Image* image = CreateImage(static_cast<std::int32_t>(decoder.Width()), static_cast<std::int32_t>(decoder.Height()));
    if (!decoder.Decode(image->pixels)) {
        DestroyImage(image);
        return Declined("compressed data");
    }
    return ReadResult{image, nullptr, false, 0, 0};
}
