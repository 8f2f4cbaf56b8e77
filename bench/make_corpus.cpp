// Writes the pictures bench/compare.sh times, into the directory given as
// the only argument. Content comes from a fixed integer hash, so every run
// produces the same pixels (and, with the same library, the same bytes).
//
// For each size and content kind, with NAME = <size>_<content>:
//   NAME_a.EXT     the base picture
//   NAME_same.EXT  the same pixels stored with other encoder settings, so
//                  the files differ while the pictures do not
//   NAME_px1.EXT   one pixel changed
//   NAME_pct10.EXT every tenth pixel (by hash) changed
// PNG at every size (64x64, 320x240, 720p, 1080p, 4K, 8K); BMP and JPEG
// at 4K only. An RGBA screenshot with transparent margins and translucent
// panels (content "alpha") at 720p and 4K, whose changed pixels differ in
// alpha only. A byte-identical copy of NAME_a is made by the script, not
// here. With --batch, the trees of bench/batch.py (see WriteBatch).
#include <FreeImage.h>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t salt) {
    std::uint32_t h = x * 0x9E3779B1u ^ (y + salt) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

std::uint8_t Clamp(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Smooth gradients with sensor-like noise: compresses poorly, as photos do.
void PhotoPixel(unsigned x, unsigned y, unsigned w, unsigned h, BYTE* px) {
    const int gx = static_cast<int>(x * 255 / w);
    const int gy = static_cast<int>(y * 255 / h);
    const int noise = static_cast<int>(Hash(x, y, 1) % 25) - 12;
    const int wave = static_cast<int>((x / 7 + y / 5) % 64);
    px[FI_RGBA_RED] = Clamp(gx + noise);
    px[FI_RGBA_GREEN] = Clamp(gy + wave + noise / 2);
    px[FI_RGBA_BLUE] = Clamp((gx + gy) / 2 - wave + noise);
}

// Flat panels, borders and rows of "glyphs": large runs of equal bytes.
void ScreenPixel(unsigned x, unsigned y, unsigned w, unsigned h, BYTE* px) {
    BYTE r = 240, g = 240, b = 240;
    const unsigned panel = (x * 4 / w) + 4 * (y * 3 / h);
    const bool titleBar = (y % (h / 3)) < h / 40;
    if (titleBar) {
        r = 40, g = 80, b = static_cast<BYTE>(160 + panel * 5);
    } else if ((y / 18) % 2 == 0 && (x % 160) < 140) {
        // Text lines: glyph cells of 9x18 pixels, about half of them inked.
        const unsigned cx = x / 9, cy = y / 18;
        const bool ink = Hash(cx, cy, 2) % 3 != 0 && Hash(x % 9, y % 18, cx % 7) % 3 == 0;
        if (ink) {
            r = g = b = 20;
        }
    }
    if (x % (w / 4) < 2 || y % (h / 3) < 2) {
        r = g = b = 128;
    }
    px[FI_RGBA_RED] = r;
    px[FI_RGBA_GREEN] = g;
    px[FI_RGBA_BLUE] = b;
}

// A screenshot of a window with a drop shadow: transparent margins, a
// translucent shadow band and an opaque window.
void TransparentScreenPixel(unsigned x, unsigned y, unsigned w, unsigned h, BYTE* px) {
    ScreenPixel(x, y, w, h, px);
    const unsigned margin = std::min(w, h) / 16;
    const unsigned edge = std::min(std::min(x, w - 1 - x), std::min(y, h - 1 - y));
    px[FI_RGBA_ALPHA] = edge < margin ? 0 : edge < 2 * margin ? static_cast<BYTE>(64 + (edge - margin) * 128 / margin) : 255;
}

using PixelFn = void (*)(unsigned, unsigned, unsigned, unsigned, BYTE*);

FIBITMAP* Make(unsigned w, unsigned h, PixelFn fn, unsigned bytesPerPixel) {
    FIBITMAP* bitmap = bytesPerPixel == 4
                           ? FreeImage_Allocate(static_cast<int>(w), static_cast<int>(h), 32, FI_RGBA_RED_MASK,
                                                FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK)
                           : FreeImage_Allocate(static_cast<int>(w), static_cast<int>(h), 24);
    for (unsigned y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
        for (unsigned x = 0; x < w; ++x) {
            fn(x, y, w, h, line + bytesPerPixel * x);
        }
    }
    return bitmap;
}

// Changes green in an RGB picture, alpha alone in an RGBA one.
void Bump(BYTE* px, unsigned bytesPerPixel) {
    const int channel = bytesPerPixel == 4 ? FI_RGBA_ALPHA : FI_RGBA_GREEN;
    px[channel] = static_cast<BYTE>(px[channel] ^ 0x40);
}

bool Save(FREE_IMAGE_FORMAT format, FIBITMAP* bitmap, const std::string& path, int flags) {
    if (!FreeImage_Save(format, bitmap, path.c_str(), flags)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

struct Format {
    FREE_IMAGE_FORMAT format;
    const char* ext;
    int flags;
    int sameFlags;  // other settings, same decoded pixels
};

bool WriteSet(const std::string& dir, const char* size, unsigned w, unsigned h,
              const char* content, PixelFn fn, const Format* formats, int count,
              unsigned bytesPerPixel = 3) {
    FIBITMAP* base = Make(w, h, fn, bytesPerPixel);
    FIBITMAP* px1 = FreeImage_Clone(base);
    Bump(FreeImage_GetScanLine(px1, static_cast<int>(h / 2)) + bytesPerPixel * (w / 2), bytesPerPixel);
    FIBITMAP* pct10 = FreeImage_Clone(base);
    for (unsigned y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(pct10, static_cast<int>(y));
        for (unsigned x = 0; x < w; ++x) {
            if (Hash(x, y, 3) % 10 == 0) {
                Bump(line + bytesPerPixel * x, bytesPerPixel);
            }
        }
    }
    bool ok = true;
    const std::string name = dir + "/" + size + "_" + content + "_";
    for (int i = 0; i < count; ++i) {
        const Format& f = formats[i];
        ok = Save(f.format, base, name + "a." + f.ext, f.flags) && ok;
        if (f.format == FIF_BMP) {
            // BMP has no compression knob for 24-bit pictures: a 32-bit
            // file holds the same pixels in other bytes.
            FIBITMAP* wide = FreeImage_ConvertTo32Bits(base);
            ok = Save(f.format, wide, name + "same." + f.ext, f.sameFlags) && ok;
            FreeImage_Unload(wide);
        } else {
            ok = Save(f.format, base, name + "same." + f.ext, f.sameFlags) && ok;
        }
        ok = Save(f.format, px1, name + "px1." + f.ext, f.flags) && ok;
        ok = Save(f.format, pct10, name + "pct10." + f.ext, f.flags) && ok;
    }
    FreeImage_Unload(base);
    FreeImage_Unload(px1);
    FreeImage_Unload(pct10);
    return ok;
}

// Two trees for the batch benchmark: DIR/a/NNNN.png and DIR/b/NNNN.png,
// `count` screenshot-like 320x240 pictures each, every one scrolled a
// little from the last. Each pair holds the same pixels in other bytes
// (another compression level), except every `differing`-th, where one
// pixel differs.
bool WriteBatch(const std::string& dir, int count, int differing) {
    bool ok = true;
    const unsigned w = 320;
    const unsigned h = 240;
    for (int i = 0; i < count; ++i) {
        FIBITMAP* bitmap = FreeImage_Allocate(static_cast<int>(w), static_cast<int>(h), 24);
        for (unsigned y = 0; y < h; ++y) {
            BYTE* line = FreeImage_GetScanLine(bitmap, static_cast<int>(y));
            for (unsigned x = 0; x < w; ++x) {
                ScreenPixel((x + static_cast<unsigned>(i) * 7) % w, (y + static_cast<unsigned>(i) * 3) % h,
                            w, h, line + 3 * x);
            }
        }
        char name[32];
        std::snprintf(name, sizeof name, "%04d.png", i);
        ok = Save(FIF_PNG, bitmap, dir + "/a/" + name, PNG_DEFAULT) && ok;
        if (i % differing == 0) {
            Bump(FreeImage_GetScanLine(bitmap, static_cast<int>(h / 2)) + 3 * (w / 2), 3);
        }
        ok = Save(FIF_PNG, bitmap, dir + "/b/" + name, PNG_Z_BEST_SPEED) && ok;
        FreeImage_Unload(bitmap);
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--batch") {
        return WriteBatch(argv[2], std::atoi(argv[3]), argc == 5 ? std::max(1, std::atoi(argv[4])) : 10) ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: %s <output directory>\n       %s --batch <directory> <count> [every Nth differs]\n",
                     argv[0], argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const Format png[] = {{FIF_PNG, "png", PNG_DEFAULT, PNG_Z_BEST_SPEED}};
    // Progressive and baseline JPEG hold the same coefficients.
    const Format all[] = {{FIF_PNG, "png", PNG_DEFAULT, PNG_Z_BEST_SPEED},
                          {FIF_BMP, "bmp", BMP_DEFAULT, BMP_DEFAULT},
                          {FIF_JPEG, "jpg", JPEG_QUALITYGOOD, JPEG_QUALITYGOOD | JPEG_PROGRESSIVE}};
    struct Size {
        const char* name;
        unsigned w, h;
        const Format* formats;
        int count;
    };
    const Size sizes[] = {{"64x64", 64, 64, png, 1},
                          {"320x240", 320, 240, png, 1},
                          {"720p", 1280, 720, png, 1},
                          {"1080p", 1920, 1080, png, 1},
                          {"4k", 3840, 2160, all, 3},
                          {"8k", 7680, 4320, png, 1}};
    bool ok = true;
    for (const Size& s : sizes) {
        ok = WriteSet(dir, s.name, s.w, s.h, "photo", PhotoPixel, s.formats, s.count) && ok;
        ok = WriteSet(dir, s.name, s.w, s.h, "screen", ScreenPixel, s.formats, s.count) && ok;
        if (std::string(s.name) == "720p" || std::string(s.name) == "4k") {
            ok = WriteSet(dir, s.name, s.w, s.h, "alpha", TransparentScreenPixel, png, 1, 4) && ok;
        }
    }
    return ok ? 0 : 1;
}
