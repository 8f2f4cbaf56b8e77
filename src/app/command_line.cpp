#include "app/command_line.h"

#include <cstdarg>
#include <cstdio>

#include "app/compare_images.h"
#include "common/log.h"

namespace {

// Prints the optional message, an empty line and the usage text.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
int Usage(const char* format, ...) {
    if (format != nullptr) {
        std::va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::printf("\n\n");
    }
    std::printf("glimra - tells whether two picture files hold exactly the same pixels\n");
    std::printf("Usage: glimra <imageA> <imageB> [diffImage] [-v]\n\n");
    std::printf("\t-v : verbose\n");
    std::printf("\t-x : use xor diff\n");
    std::printf("\t-d : use abs delta diff [default]\n");
    std::printf("Compiled on %s\n", __DATE__);
    // A script reads status 0 as "identical": a mistyped command line must
    // never pass for that.
    return 1;
}

}  // namespace

int RunCommandLine(int argc, const char* const* argv) {
    if (argc < 2) {
        return Usage("Must give both the image filenames!");
    }

    const char* paths[3] = {nullptr, nullptr, nullptr};
    int pathCount = 0;
    DiffMode mode = DiffMode::AbsDelta;
    bool verbose = false;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            // Only the second character counts: -verbose is -v, -dx is -d.
            switch (arg[1]) {
            case 'd': mode = DiffMode::AbsDelta; break;
            case 'v': verbose = true; break;
            case 'x': mode = DiffMode::Xor; break;
            default: return Usage("Unknown flag %s", arg);
            }
        } else if (pathCount < 3) {
            paths[pathCount++] = arg;
        }
    }

    if (pathCount < 2) {
        return Usage("Must give both the image filenames!");
    }
    g_verbose = verbose;
    return CompareImages(paths[0], paths[1], paths[2], mode) ? 0 : 1;
}
