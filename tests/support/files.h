// Whole files for the tests, with the standard library only, so that the
// platform test cross-built for Windows can use them too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string ReadFileBytes(const std::string& path);  // "" when unreadable
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Names in `directory` that look like the tool's temporary files: a failed
// or finished save must leave none behind.
std::vector<std::string> TempFilesIn(const std::string& directory);

// Integers in file byte order.
inline void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

inline void PutBigEndian(std::string& out, std::uint32_t value) {
    for (int i = 3; i >= 0; --i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}
