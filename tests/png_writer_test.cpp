#include "image/png_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Noise, black, a difference picture's few bright pixels, a highlight
// picture's faded greys with red, and runs of every length from 1 to 600
// of any byte, across rows.
void Fill(Image* image, int content, std::mt19937& random) {
    const std::size_t payload = ImagePayloadSize(image->width, image->height);
    if (content == 4) {
        for (std::size_t i = 0; i < payload;) {
            const std::size_t length = std::min<std::size_t>(payload - i, 1 + random() % 600);
            std::memset(image->pixels + i, random() % 3 == 0 ? 0 : static_cast<int>(random() % 256), length);
            i += length;
        }
        return;
    }
    for (std::size_t i = 0; i < payload; ++i) {
        const auto grey = static_cast<std::uint8_t>(160 + (i / 3) % 64);
        image->pixels[i] = content == 0   ? static_cast<std::uint8_t>(random())
                           : content == 1 ? 0
                           : content == 2 ? static_cast<std::uint8_t>(i % 97 == 0 ? 200 : 0)
                           : (i / 3) % 41 == 0 ? static_cast<std::uint8_t>(i % 3 == 2 ? 255 : 0)
                                                : grey;
    }
}

ImagePtr ReadBack(const std::string& path, bool ownReader) {
    if (!ownReader) {
        return ImagePtr(LoadImageFileWithLibrary(path.c_str()));
    }
    const PictureFile file = OpenPictureFile(path.c_str());
    const ReadResult own = ReadWithOwnReader(file.get());
    EXPECT_NE(own.image, nullptr) << own.declined;
    return ImagePtr(own.image);
}

// A difference picture saved as PNG goes through our writer: both readers
// must see in it exactly the pixels they see in the library's own file.
TEST(PngWriter, DecodesToThePixelsOfTheLibrarysWriter) {
    std::mt19937 random(7);
    const std::string ours = ::testing::TempDir() + "glimra_png_writer_ours.png";
    const std::string library = ::testing::TempDir() + "glimra_png_writer_library.png";
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {17, 5}, {64, 1}, {1, 64}, {320, 240}, {1000, 3}, {333, 77}};
    for (const auto& [width, height] : sizes) {
        for (int content = 0; content < 5; ++content) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " content " + std::to_string(content));
            const ImagePtr image(CreateImage(width, height));
            Fill(image.get(), content, random);
            for (const auto& [path, save] : {std::pair{ours, &SaveImageFile}, std::pair{library, &SaveImageFileWithLibrary}}) {
                AtomicFile file(path.c_str());
                save(image.get(), path.c_str(), file);
                ASSERT_TRUE(file.Commit());
            }
            for (const bool ownReader : {true, false}) {
                for (const std::string& path : {ours, library}) {
                    const ImagePtr read = ReadBack(path, ownReader);
                    ASSERT_NE(read, nullptr);
                    ASSERT_EQ(read->width, width);
                    ASSERT_EQ(read->height, height);
                    EXPECT_EQ(std::memcmp(read->pixels, image->pixels, ImagePayloadSize(width, height)), 0)
                        << path << (ownReader ? " by our reader" : " by the library");
                }
            }
        }
    }
    std::remove(ours.c_str());
    std::remove(library.c_str());
}

// Pictures of one run follow each other through the writer: a smaller
// picture after a larger one must not carry the larger one's rows.
TEST(PngWriter, PicturesInTurnCarryNothingOver) {
    std::mt19937 random(11);
    const std::string path = ::testing::TempDir() + "glimra_png_writer_reuse.png";
    for (const auto& [width, height] : {std::pair{300, 200}, std::pair{40, 30}, std::pair{41, 200}}) {
        const ImagePtr image(CreateImage(width, height));
        Fill(image.get(), 0, random);
        {
            AtomicFile file(path.c_str());
            WritePng(image.get(), file);
            ASSERT_TRUE(file.Commit());
        }
        const ImagePtr read = ReadBack(path, true);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(std::memcmp(read->pixels, image->pixels, ImagePayloadSize(width, height)), 0);
    }
    std::remove(path.c_str());
}

}  // namespace
