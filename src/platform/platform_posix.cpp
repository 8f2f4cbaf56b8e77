#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <poll.h>
#if defined(__linux__)
#include <sched.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

// Below this size a buffer comes from the heap: mapping and unmapping cost
// more than they save on small blocks. Above it one huge-page fault
// replaces one fault per 4 KiB, which on a virtual machine costs
// microseconds each; but a fresh huge page is 2 MiB the kernel must clear,
// and on a machine that hands free memory back to its host that costs far
// more than the faults it saves on a block of a few hundred KiB. The bands
// of rows that streamed pairs compare (64 to 256 KiB) stay on the heap:
// a 320x240 pair took 2.41 ms of CPU with them in huge pages, 2.22 without
// (cold, bench/paired.py), and 6.4 MiB of memory at its peak, 2.8 without.
constexpr std::size_t kMappedBufferThreshold = std::size_t{4} << 20;

// The size of a transparent huge page on x86-64. Mappings start on this
// boundary and span whole huge pages, so none of their pages is left small.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t MappedLength(std::size_t size) {
    return (size + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

namespace {

// Large blocks freed lately, kept mapped for the next large request, up to
// eight of them. Pages once faulted in cost nothing to use again, while
// each fresh huge page is zeroed by the kernel first. Most pairs now come
// as bands of rows and never get here; whole pictures remain for pairs of
// two sizes or of float samples and for the library's pictures, and a
// worker serving such pairs one after another reuses their blocks: 20
// pairs of 1080p screenshots of two sizes with a report took 7 % less CPU
// with blocks kept, measured cold (bench/paired.py). Their contents are
// whatever the last user left, as AllocateBuffer allows. Two threads may
// allocate at once, hence the lock.
class SpareBlocks {
public:
    // A kept block of at least `length` bytes and at most twice that, cut
    // to `length`; null where none fits.
    char* Take(std::size_t length) {
        const std::lock_guard<std::mutex> lock(mutex);
        Block* best = nullptr;
        for (Block& block : blocks) {
            if (block.start != nullptr && block.length >= length && block.length / 2 <= length &&
                (best == nullptr || block.length < best->length)) {
                best = &block;
            }
        }
        if (best == nullptr) {
            return nullptr;
        }
        char* start = best->start;
        if (best->length > length) {
            munmap(start + length, best->length - length);
        }
        *best = Block{};
        return start;
    }

    // Keeps a block of `length` mapped bytes, in place of the smallest kept
    // one when all places are taken, or unmaps it where every kept one is
    // larger or keeping it would hold more than kMaxKeptBytes.
    void Keep(char* start, std::size_t length) {
        const std::lock_guard<std::mutex> lock(mutex);
        Block* smallest = &blocks[0];
        std::size_t kept = 0;
        for (Block& block : blocks) {
            kept += block.length;
            if (block.length < smallest->length) {
                smallest = &block;
            }
        }
        if (smallest->length > length || kept - smallest->length + length > kMaxKeptBytes) {
            munmap(start, length);
            return;
        }
        if (smallest->start != nullptr) {
            munmap(smallest->start, smallest->length);
        }
        *smallest = Block{start, length};
    }

    void ReleaseAll() {
        const std::lock_guard<std::mutex> lock(mutex);
        for (Block& block : blocks) {
            if (block.start != nullptr) {
                munmap(block.start, block.length);
            }
            block = Block{};
        }
    }

private:
    struct Block {
        char* start = nullptr;
        std::size_t length = 0;
    };
    // A pair's run has about eight blocks of its own size in play (file,
    // inflated rows, picture and alpha plane, each for A and B; difference
    // picture, encoder buffers); an idle worker holds no more than this.
    static constexpr std::size_t kMaxKeptBytes = std::size_t{768} << 20;
    std::mutex mutex;
    Block blocks[8];
};

SpareBlocks g_spareBlocks;

// `length` bytes mapped afresh on a huge-page boundary; null when the
// address space is exhausted.
char* MapHugePageAligned(std::size_t length) {
    // Map one huge page more than needed and cut off the unaligned ends;
    // a huge-page boundary satisfies every alignment a caller may ask for.
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    auto* start = static_cast<char*>(mapped);
    const std::size_t head =
        (kHugePage - reinterpret_cast<std::uintptr_t>(start) % kHugePage) % kHugePage;
    if (head > 0) {
        munmap(start, head);
    }
    munmap(start + head + length, kHugePage - head);
#if defined(MADV_HUGEPAGE)
    // Only advice: where huge pages are off the mapping works as it is.
    madvise(start + head, length, MADV_HUGEPAGE);
#endif
    return start + head;
}

}  // namespace

void* AllocateBuffer(std::size_t size, std::size_t alignment) {
    if (size < kMappedBufferThreshold) {
        void* memory = nullptr;
        return posix_memalign(&memory, alignment, size) == 0 ? memory : nullptr;
    }
    const std::size_t length = MappedLength(size);
    if (length < size || length + kHugePage < length) {
        return nullptr;
    }
    if (char* spare = g_spareBlocks.Take(length)) {
        return spare;
    }
    char* start = MapHugePageAligned(length);
    if (start == nullptr) {
        // The kept blocks may be what fills a limited address space.
        g_spareBlocks.ReleaseAll();
        start = MapHugePageAligned(length);
    }
    return start;
}

void FreeBuffer(void* memory, std::size_t size) {
    if (memory == nullptr) {
        return;
    }
    if (size < kMappedBufferThreshold) {
        std::free(memory);
    } else {
        g_spareBlocks.Keep(static_cast<char*>(memory), MappedLength(size));
    }
}

bool ShrinkBuffer(void* memory, std::size_t size, std::size_t newSize) {
    if (memory == nullptr) {
        return false;
    }
    // A heap block keeps its end: free() needs no size, and the end is
    // smaller than the mapping threshold, where a copy would cost a whole
    // picture's worth of fresh pages.
    if (newSize < kMappedBufferThreshold) {
        return size < kMappedBufferThreshold;
    }
    const std::size_t kept = MappedLength(newSize);
    const std::size_t mapped = MappedLength(size);
    if (mapped > kept) {
        munmap(static_cast<char*>(memory) + kept, mapped - kept);
    }
    return true;
}

void ReleaseFreeHeapMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void KeepFreedHeapMemory(std::size_t bytes) {
#if defined(__GLIBC__)
    const int limit = static_cast<int>(std::min<std::size_t>(bytes, INT32_MAX));
    mallopt(M_MMAP_THRESHOLD, limit);
    mallopt(M_TRIM_THRESHOLD, limit);
#else
    (void)bytes;
#endif
}

std::FILE* OpenRegularFile(const char* path) {
    const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat info {};
    std::FILE* file = nullptr;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
        fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) == 0) {
        file = fdopen(descriptor, "rb");
    }
    if (file == nullptr) {
        close(descriptor);
    }
    return file;
}

bool EmptyOpenFile(std::FILE* file) {
    return std::fflush(file) == 0 && ftruncate(fileno(file), 0) == 0 && std::fseek(file, 0, SEEK_SET) == 0;
}

bool QueryOpenFileIdentity(std::FILE* file, FileIdentity& identity) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0) {
        return false;
    }
    identity.isRegular = S_ISREG(info.st_mode);
    identity.size = static_cast<std::uint64_t>(info.st_size);
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.fileNumber = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

bool KeepFileMode(const char* path, std::FILE* file) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        return errno == ENOENT;
    }
    return fchmod(fileno(file), info.st_mode & 07777) == 0;
}

std::uint64_t QueryCounterTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

std::uint64_t QueryCounterFrequency() { return 1000000000u; }

void FailWritesBeyondFileSizeLimit() { std::signal(SIGXFSZ, SIG_IGN); }

std::FILE* OpenNewFile(const std::string& path, bool& nameTaken) {
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

void* OpenSharedLibrary(const char* fileName) { return dlopen(fileName, RTLD_NOW | RTLD_LOCAL); }

void* FindSymbol(void* library, const char* name) {
    return dlsym(library != nullptr ? library : RTLD_DEFAULT, name);
}

bool StartWorker(WorkerProcess& worker, int (*body)(int control, void* context), void* context) {
    int control[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, control) != 0) {
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
#if defined(__linux__)
        // A parent that died before this call left no one to tell.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
            _exit(127);
        }
#else
        (void)parent;
#endif
        close(control[0]);
        _exit(body(control[1], context));
    }
    close(control[1]);
    if (pid < 0) {
        close(control[0]);
        return false;
    }
    worker.id = pid;
    worker.control = control[0];
    return true;
}

bool SendWithFiles(int socket, const void* data, std::size_t size, std::FILE* const* files, int count) {
    int descriptors[kMaxSentFiles];
    int sent = 0;
    for (int i = 0; i < count && sent < kMaxSentFiles; ++i) {
        if (files[i] != nullptr) {
            descriptors[sent++] = fileno(files[i]);
        }
    }
    iovec part{const_cast<void*>(data), size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof descriptors)] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (sent > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * static_cast<std::size_t>(sent));
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * static_cast<std::size_t>(sent));
        std::memcpy(CMSG_DATA(header), descriptors, sizeof(int) * static_cast<std::size_t>(sent));
    }
    ssize_t written;
    do {
        written = sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(size);
}

long ReceiveWithFiles(int socket, void* data, std::size_t size, int* descriptors, int& count) {
    count = 0;
    iovec part{data, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kMaxSentFiles)] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); got >= 0 && header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) {
            continue;
        }
        const std::size_t received = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < received; ++i) {
            int descriptor = -1;
            std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof descriptor);
            if (count < kMaxSentFiles) {
                descriptors[count++] = descriptor;
            } else {
                close(descriptor);
            }
        }
    }
    return got;
}

std::FILE* OpenDescriptor(int descriptor, const char* mode) {
    std::FILE* file = fdopen(descriptor, mode);
    if (file == nullptr) {
        close(descriptor);
    }
    return file;
}

WorkerEnd WaitForWorker(const WorkerProcess& worker) {
    int status = 0;
    while (waitpid(static_cast<pid_t>(worker.id), &status, 0) < 0 && errno == EINTR) {
    }
    WorkerEnd end;
    end.exited = WIFEXITED(status);
    end.status = end.exited ? WEXITSTATUS(status) : 0;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return end;
}

void KillWorker(long id) { kill(static_cast<pid_t>(id), SIGKILL); }

namespace {

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void OnTerminationSignals(void (*handler)(int signal)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Another of them while the handler runs waits for it; the one that
    // came is back to its default at once, for DieBySignal.
    for (const int signal : kTerminationSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    for (const int signal : kTerminationSignals) {
        sigaction(signal, &action, nullptr);
    }
}

void DefaultTerminationSignals() {
    for (const int signal : kTerminationSignals) {
        std::signal(signal, SIG_DFL);
    }
}

void DieBySignal(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

bool WaitForInput(const int* descriptors, bool* ready, int count, int timeoutMs) {
    std::vector<pollfd> fds(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < fds.size(); ++i) {
        fds[i] = pollfd{descriptors[i], POLLIN, 0};
    }
    int got = 0;
    do {
        got = poll(fds.data(), static_cast<nfds_t>(fds.size()), timeoutMs);
    } while (got < 0 && errno == EINTR);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        ready[i] = fds[i].revents != 0;
    }
    return got > 0;
}

long ReadSome(int descriptor, void* buffer, std::size_t size) {
    ssize_t got = 0;
    do {
        got = read(descriptor, buffer, size);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

bool WriteAll(int descriptor, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        // A socket whose other end is gone fails the write instead of
        // killing this process with SIGPIPE.
        const ssize_t sent = send(descriptor, bytes, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

void CloseDescriptor(int descriptor) {
    if (descriptor >= 0) {
        close(descriptor);
    }
}

namespace {

void SendNowhere(int descriptor) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, descriptor);
        close(null);
    }
}

}  // namespace

void DiscardStandardOutput() { SendNowhere(STDOUT_FILENO); }

void UseBinaryStandardStreams() {}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void DiscardStandardError() { SendNowhere(STDERR_FILENO); }

void* MapSharedMemory(std::size_t size) {
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void UnmapSharedMemory(void* memory, std::size_t size) {
    if (memory != nullptr) {
        munmap(memory, size);
    }
}

unsigned ProcessorCount() {
#if defined(__linux__)
    // One call, where the C++ library reads a file in /sys.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
    }
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

std::uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0
               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
               : 0;
}

namespace {

// Lowers a resource limit to `soft` and `hard`, never raising either.
bool LowerLimit(int resource, std::uint64_t soft, std::uint64_t hard) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = std::min(limit.rlim_cur, static_cast<rlim_t>(soft));
    limit.rlim_max = std::min(limit.rlim_max, static_cast<rlim_t>(hard));
    return setrlimit(resource, &limit) == 0;
}

}  // namespace

bool LimitProcessorTime(std::uint64_t seconds) {
    // One second more of the hard limit: SIGXCPU at the soft one, SIGKILL
    // should that be caught or ignored.
    return LowerLimit(RLIMIT_CPU, seconds, seconds + 1);
}

bool LimitAddressSpace(std::uint64_t bytes) { return LowerLimit(RLIMIT_AS, bytes, bytes); }

bool LimitProcessorTimeFromNow(std::uint64_t seconds) {
    // The process's own clock: getrusage is not a call the sandbox allows.
    timespec used{};
    rlimit limit{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used) != 0 || getrlimit(RLIMIT_CPU, &limit) != 0) {
        return false;
    }
    const auto wanted = static_cast<rlim_t>(used.tv_sec) + 1 + static_cast<rlim_t>(seconds);
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(limit.rlim_max, wanted);
    return setrlimit(RLIMIT_CPU, &limit) == 0;
}
