// The fuzz targets read pictures from files, as the tool does: each input
// is written to a file of this process's own first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

// The pixel limit the targets read under, as the tool reads under its
// own: a JPEG of a kilobyte may declare 65500 x 65500 pixels and decode
// them all (what its data lacks is grey), which would only measure this
// machine's memory. 4 Mi pixels keep every frame under the 64 MB the
// sanitizer lets the library allocate.
constexpr std::uint64_t kFuzzMaxPixels = std::uint64_t{4} << 20;

// Writes `data` to the target's input file and returns its path.
inline const std::string& WriteFuzzInput(const char* target, const std::uint8_t* data,
                                         std::size_t size) {
    static const std::string path =
        (std::filesystem::temp_directory_path() / (std::string(target) + "-" + std::to_string(getpid())))
            .string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort();
    }
    return path;
}

// A header claiming a huge picture must take the failure road, not end as
// a sanitizer report. Not inline: the sanitizer looks the function up by
// name, and each target is one file that includes this once.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=64:detect_leaks=1";
}

// A finding of a target: what went wrong, then the crash libFuzzer keeps.
[[noreturn]] inline void Finding(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}
