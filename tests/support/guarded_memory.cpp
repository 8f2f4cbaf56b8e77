#include "support/guarded_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

GuardedBytes::GuardedBytes(std::size_t bytes) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    length = (bytes + page - 1) / page * page + page;
    void* mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    base = static_cast<std::uint8_t*>(mapped);
    mprotect(base + length - page, page, PROT_NONE);
    data = base + length - page - bytes;
}

GuardedBytes::~GuardedBytes() { munmap(base, length); }
