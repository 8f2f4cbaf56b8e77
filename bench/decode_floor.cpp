// The plain FreeImage cost of reading two pictures: what any comparison
// built on the library pays before it looks at a single pixel. Exit status
// 0 when both loaded, 1 otherwise.
#include <FreeImage.h>

#include <cstdio>

static bool LoadAndConvert(const char* path) {
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path, 0);
    if (format == FIF_UNKNOWN) {
        return false;
    }
    // The flags of an exact comparison: stored PNG samples, accurate JPEG.
    const int flags = format == FIF_PNG ? PNG_IGNOREGAMMA : format == FIF_JPEG ? JPEG_ACCURATE : 0;
    FIBITMAP* loaded = FreeImage_Load(format, path, flags);
    if (loaded == nullptr) {
        return false;
    }
    FIBITMAP* converted = FreeImage_ConvertTo24Bits(loaded);
    FreeImage_Unload(loaded);
    if (converted == nullptr) {
        return false;
    }
    FreeImage_Unload(converted);
    return true;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <imageA> <imageB>\n", argv[0]);
        return 2;
    }
    const bool a = LoadAndConvert(argv[1]);
    const bool b = LoadAndConvert(argv[2]);
    return a && b ? 0 : 1;
}
