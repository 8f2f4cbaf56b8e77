#include "image/png_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "image/image_file.h"
#include "image/own_readers.h"

namespace {

struct ImageDeleter {
    void operator()(Image* image) const { DestroyImage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

TEST(PngWriter, WritesPicturesOurReaderAndTheLibraryReadBackExactly) {
    std::mt19937 random(7);
    const std::string path = ::testing::TempDir() + "glimra_png_writer_test.png";
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {17, 5}, {64, 1}, {1, 64}, {320, 240}, {1000, 3}};
    for (const auto& [width, height] : sizes) {
        for (int content = 0; content < 3; ++content) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " content " + std::to_string(content));
            const ImagePtr image(CreateImage(width, height));
            const std::size_t payload = ImagePayloadSize(width, height);
            for (std::size_t i = 0; i < payload; ++i) {
                // Noise, black, and a difference picture's few bright pixels.
                image->pixels[i] = content == 0 ? static_cast<std::uint8_t>(random())
                                   : content == 1 ? 0
                                                  : static_cast<std::uint8_t>(i % 97 == 0 ? 200 : 0);
            }
            {
                AtomicFile file(path.c_str());
                PngWriter().Write(image.get(), file);
                ASSERT_TRUE(file.Commit());
            }
            const PictureFile file = OpenPictureFile(path.c_str());
            const ReadResult own = ReadWithOwnReader(file.get());
            const ImagePtr ours(own.image);
            ASSERT_NE(ours, nullptr) << own.declined;
            const ImagePtr library(LoadImageFileWithLibrary(path.c_str()));
            for (const Image* read : {ours.get(), library.get()}) {
                ASSERT_EQ(read->width, width);
                ASSERT_EQ(read->height, height);
                EXPECT_EQ(std::memcmp(read->pixels, image->pixels, payload), 0);
            }
        }
    }
    std::remove(path.c_str());
}

}  // namespace
