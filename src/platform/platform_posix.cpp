#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void* AlignedAlloc(std::size_t size, std::size_t alignment) {
    void* memory = nullptr;
    if (posix_memalign(&memory, alignment, size) != 0) {
        return nullptr;
    }
    return memory;
}

void AlignedFree(void* memory) { std::free(memory); }

std::uint64_t QueryCounterTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t QueryCounterFrequency() { return 1000000000u; }

int FormatToBuffer(char* buffer, std::size_t size, const char* format,
                   std::va_list args) {
    return std::vsnprintf(buffer, size, format, args);
}

std::FILE* OpenNewFile(const std::string& path, bool& nameTaken) {
    // Under a file-size limit the kernel would otherwise kill the process
    // with SIGXFSZ in the middle of a write; ignored, the write fails with
    // EFBIG and the caller reports it like any other failed write.
    std::signal(SIGXFSZ, SIG_IGN);

    // 0666 lets the umask decide, as for any file the user creates.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    nameTaken = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(path.c_str());
    }
    return file;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

bool SyncAndCloseFile(std::FILE* file) {
    bool ok = std::fflush(file) == 0;
    ok = fsync(fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

void RemoveFile(const char* path) { unlink(path); }

int SeekFile(std::FILE* file, std::int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin);
}

std::int64_t TellFile(std::FILE* file) { return ftello(file); }
