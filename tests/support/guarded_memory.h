// Memory that ends exactly where an inaccessible page begins: code that
// reads or writes one byte too far crashes the test.
#pragma once

#include <cstddef>
#include <cstdint>

class GuardedBytes {
public:
    explicit GuardedBytes(std::size_t bytes);
    ~GuardedBytes();
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    // The first of the `bytes` bytes; zero-filled.
    std::uint8_t* data;

private:
    std::uint8_t* base;
    std::size_t length;
};
