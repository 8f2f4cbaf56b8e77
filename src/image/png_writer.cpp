#include "image/png_writer.h"

#include "common/log.h"

void WritePng(const Image* image, AtomicFile& file, PngRowWriter::Content content) {
    bool written = false;
    if (file.Stream() != nullptr && image->width > 0 && image->height > 0) {
        PngRowWriter writer(file.Stream(), static_cast<std::uint32_t>(image->width),
                            static_cast<std::uint32_t>(image->height), content);
        written = writer.WriteRows(image->pixels, static_cast<std::size_t>(image->width) * 3,
                                   static_cast<std::uint32_t>(image->height)) &&
                  writer.Finish();
    }
    if (!file.Close() || !written) {
        throw FatalError{Failure::SaveFailed};
    }
}
