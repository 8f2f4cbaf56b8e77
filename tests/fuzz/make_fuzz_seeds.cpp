// Writes small pictures in every format the fuzz target should start from,
// made here rather than taken from anywhere: a few pixels each, so that
// mutations reach past the headers quickly.
#include <FreeImage.h>

#include <cstdio>
#include <string>

namespace {

FIBITMAP* Pattern(int width, int height, int bitsPerPixel) {
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, bitsPerPixel);
    if (bitsPerPixel == 8) {
        RGBQUAD* colours = FreeImage_GetPalette(bitmap);
        for (int i = 0; i < 256; ++i) {
            colours[i].rgbRed = static_cast<BYTE>(i);
            colours[i].rgbGreen = static_cast<BYTE>(255 - i);
            colours[i].rgbBlue = static_cast<BYTE>(i * 5);
        }
    }
    const int bytesPerPixel = bitsPerPixel / 8;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width * bytesPerPixel; ++x) {
            line[x] = static_cast<BYTE>(x * 37 + y * 11);
        }
    }
    return bitmap;
}

bool Save(const std::string& dir, const char* name, FREE_IMAGE_FORMAT format, int bitsPerPixel,
          int flags = 0) {
    FIBITMAP* bitmap = Pattern(7, 5, bitsPerPixel);
    const std::string path = dir + "/" + name;
    const bool saved = FreeImage_Save(format, bitmap, path.c_str(), flags) != 0;
    FreeImage_Unload(bitmap);
    if (!saved) {
        std::fprintf(stderr, "seed not written: %s\n", path.c_str());
    }
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <directory>\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    ok &= Save(dir, "rgb.png", FIF_PNG, 24);
    ok &= Save(dir, "rgba.png", FIF_PNG, 32);
    ok &= Save(dir, "palette.png", FIF_PNG, 8);
    ok &= Save(dir, "rgb.bmp", FIF_BMP, 24);
    ok &= Save(dir, "rgbx.bmp", FIF_BMP, 32);
    ok &= Save(dir, "rle.bmp", FIF_BMP, 8, BMP_SAVE_RLE);
    ok &= Save(dir, "palette.gif", FIF_GIF, 8);
    ok &= Save(dir, "rgb.tif", FIF_TIFF, 24);
    ok &= Save(dir, "rgb.jpg", FIF_JPEG, 24);
    ok &= Save(dir, "progressive.jpg", FIF_JPEG, 24, JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_420);
    ok &= Save(dir, "grey.jpg", FIF_JPEG, 8);
    ok &= Save(dir, "rgb.tga", FIF_TARGA, 24);
    ok &= Save(dir, "rle.tga", FIF_TARGA, 24, TARGA_SAVE_RLE);
    ok &= Save(dir, "rgb.ppm", FIF_PPMRAW, 24);
    ok &= Save(dir, "grey.pgm", FIF_PGMRAW, 8);
    return ok ? 0 : 1;
}
