// A whole picture file in memory, for the readers that take it in one go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/image.h"
#include "platform/platform.h"

// The whole file, in a block of the kind pictures get: a file of megabytes
// then takes a few huge-page faults instead of one fault per 4 KiB, which
// in this tool's common runs cost more system time than the reading.
class FileBytes {
public:
    explicit FileBytes(std::size_t bytes)
        : size(bytes), data(static_cast<std::uint8_t*>(AllocateBuffer(bytes, kImageAlignment))) {}
    ~FileBytes() { Release(); }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    std::uint8_t* Data() const { return data; }
    std::uint8_t& operator[](std::size_t i) const { return data[i]; }
    // Reads `size` bytes of `file` from where it stands; false when the
    // block could not be had or the file is shorter.
    bool ReadFrom(std::FILE* file) {
        return data != nullptr && std::fread(data, 1, size, file) == size;
    }
    void Release() {
        FreeBuffer(data, size);
        data = nullptr;
    }

private:
    std::size_t size;
    std::uint8_t* data;
};

