#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <malloc.h>

// Windows gets plain aligned heap blocks: large pages there need a
// privilege that an ordinary user does not hold.
void* AllocateBuffer(std::size_t size, std::size_t alignment) {
    return _aligned_malloc(size, alignment);
}

void FreeBuffer(void* memory, std::size_t) { _aligned_free(memory); }

bool ShrinkBuffer(void*, std::size_t, std::size_t) { return false; }

void ReleaseFreeHeapMemory() {}

void KeepFreedHeapMemory(std::size_t) {}

std::FILE* OpenRegularFile(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    struct _stat64 info {};
    if (file != nullptr && (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFREG) == 0)) {
        std::fclose(file);
        file = nullptr;
    }
    return file;
}

bool EmptyOpenFile(std::FILE* file) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), 0) == 0 && std::fseek(file, 0, SEEK_SET) == 0;
}

bool QueryOpenFileIdentity(std::FILE* file, FileIdentity& identity) {
    struct _stat64 info {};
    if (_fstat64(_fileno(file), &info) != 0) {
        return false;
    }
    identity = FileIdentity{};
    identity.isRegular = (info.st_mode & _S_IFREG) != 0;
    identity.size = static_cast<std::uint64_t>(info.st_size);
    // _fstat64 gives no file number: which file it is stays unknown.
    return true;
}

// A new file takes its folder's permissions, as the one it replaces did.
bool KeepFileMode(const char*, std::FILE*) { return true; }

std::uint64_t QueryCounterTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart);
}

std::uint64_t QueryCounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(frequency.QuadPart);
}

std::FILE* OpenNewFile(const std::string& path, bool& nameTaken) {
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                         _S_IREAD | _S_IWRITE);
    nameTaken = fd < 0 && errno == EEXIST;
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
        DeleteFileA(path.c_str());
    }
    return file;
}

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

// Windows has no file-size signal.
void FailWritesBeyondFileSizeLimit() {}

bool SyncAndCloseFile(std::FILE* file) {
    bool ok = std::fflush(file) == 0;
    ok = _commit(_fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool ReplaceFileAtomically(const char* from, const char* to) {
    return MoveFileExA(from, to,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFile(const char* path) { DeleteFileA(path); }

void* OpenSharedLibrary(const char* fileName) {
    return reinterpret_cast<void*>(LoadLibraryA(fileName));
}

void* FindSymbol(void* library, const char* name) {
    const HMODULE module =
        library != nullptr ? static_cast<HMODULE>(library) : GetModuleHandleA(nullptr);
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

// No fork on Windows: the comparison runs in the tool's own process.
bool StartWorker(WorkerProcess&, int (*)(int, void*), void*) { return false; }

WorkerEnd WaitForWorker(const WorkerProcess&) { return WorkerEnd{}; }

void KillWorker(long) {}

void OnTerminationSignals(void (*handler)(int signal)) {
    // The C runtime resets each to its default before calling the handler.
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
}

void DefaultTerminationSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void DieBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    _exit(3);
}

bool LimitProcessorTime(std::uint64_t) { return false; }

bool LimitProcessorTimeFromNow(std::uint64_t) { return false; }

bool SendWithFiles(int, const void*, std::size_t, std::FILE* const*, int) { return false; }

long ReceiveWithFiles(int, void*, std::size_t, int*, int& count) {
    count = 0;
    return -1;
}

std::FILE* OpenDescriptor(int descriptor, const char* mode) {
    std::FILE* file = _fdopen(descriptor, mode);
    if (file == nullptr) {
        _close(descriptor);
    }
    return file;
}

bool WaitForInput(const int*, bool*, int, int) { return false; }

long ReadSome(int descriptor, void* buffer, std::size_t size) {
    return _read(descriptor, buffer, static_cast<unsigned>(size));
}

bool WriteAll(int descriptor, const void* data, std::size_t size) {
    return _write(descriptor, data, static_cast<unsigned>(size)) == static_cast<int>(size);
}

void CloseDescriptor(int descriptor) {
    if (descriptor >= 0) {
        _close(descriptor);
    }
}

void DiscardStandardOutput() {}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void DiscardStandardError() {}

void* MapSharedMemory(std::size_t size) { return std::calloc(1, size); }

void UnmapSharedMemory(void* memory, std::size_t) { std::free(memory); }

unsigned ProcessorCount() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1;
}

std::uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

// A job object holds the limit: allocations beyond it fail, as they do
// under RLIMIT_AS. The handle stays open for the process's life.
bool LimitAddressSpace(std::uint64_t bytes) {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) {
        return false;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limit.ProcessMemoryLimit = static_cast<SIZE_T>(bytes);
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        CloseHandle(job);
        return false;
    }
    return true;
}

bool EnterSandbox() { return false; }
