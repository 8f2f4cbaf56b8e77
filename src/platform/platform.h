// Facts about the operating system and nothing else: memory, the tick
// counter, file identity, the file operations an atomic replacement is
// made of, loading shared libraries, worker processes and their pipes,
// resource limits and the sandbox. What the tool makes of them (names of
// temporary files, signal policy, when to flush its output) is its
// callers'. The only layer that includes OS headers; the Windows branch
// uses Win32 and the MSVC runtime, every other system POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// A block of `size` bytes starting on a multiple of `alignment` (a power of
// two, at most 4096). Large blocks may come straight from the OS as
// zero-filled mappings advised for huge pages, so that first touching them
// costs one fault per huge page; smaller ones come from the heap with
// undefined contents. FreeBuffer must be given the size AllocateBuffer got.
// Null when out of memory; size 0 may return null.
void* AllocateBuffer(std::size_t size, std::size_t alignment);
void FreeBuffer(void* memory, std::size_t size);

// Turns a block from AllocateBuffer(size) into one that FreeBuffer(memory,
// newSize) frees, without moving it (newSize <= size), giving back to the
// OS what lies beyond `newSize` where that pays. False, with nothing
// changed, where that cannot be done in place: the caller then copies what
// it keeps into a smaller block.
bool ShrinkBuffer(void* memory, std::size_t size, std::size_t newSize);

// Gives heap memory that has been freed back to the OS where the heap
// would otherwise keep it for later use.
void ReleaseFreeHeapMemory();
// From now on the heap keeps what is freed, up to `bytes`, for the next
// requests instead of giving it back to the OS, and serves blocks up to
// that size itself: a process that does the same work again and again
// then finds its pages in place instead of faulting them in anew.
void KeepFreedHeapMemory(std::size_t bytes);

// A monotonic tick counter and its fixed rate in ticks per second.
std::uint64_t QueryCounterTicks();
std::uint64_t QueryCounterFrequency();

struct FileIdentity {
    bool isRegular = false;  // not a directory, pipe or device
    std::uint64_t size = 0;
    // Where the system names files cheaply: the device and the file's
    // number on it; both zero elsewhere.
    std::uint64_t device = 0;
    std::uint64_t fileNumber = 0;
};

// False when the system cannot tell.
bool QueryOpenFileIdentity(std::FILE* file, FileIdentity& identity);
// Empties a file open for writing and puts it back at its start, for its
// content to be written again from scratch; false when that failed.
bool EmptyOpenFile(std::FILE* file);
// Gives the open file the permission bits of the file at `path`, which it
// is to replace; true also when there is no such file (nothing to keep)
// or the system has no such bits.
bool KeepFileMode(const char* path, std::FILE* file);
// True only when both identities are known to name one and the same file.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// Opens `path` for binary reading if it is a regular file, never waiting
// for a writer of a pipe or for a device; null for anything else or when
// it cannot be opened.
std::FILE* OpenRegularFile(const char* path);

// Opens `path` for binary writing only if no file has that name yet (no
// race with another creator); `nameTaken` tells that case apart from a
// real failure. The new file gets the permissions a plain fopen would give.
std::FILE* OpenNewFile(const std::string& path, bool& nameTaken);

unsigned long CurrentProcessId();

// From now on a write beyond the process's file-size limit fails (EFBIG)
// instead of ending the process with a signal, for this process and the
// workers it starts. Nothing changes where the system has no such signal.
void FailWritesBeyondFileSizeLimit();

// Flushes, forces the data to the storage device and closes `file`. False
// when any of these fails (the file is closed either way).
bool SyncAndCloseFile(std::FILE* file);

// Puts `from` in the place of `to`, replacing a file already there, in one
// step: a reader of `to` sees either the old file or the new one.
bool ReplaceFileAtomically(const char* from, const char* to);

void RemoveFile(const char* path);

// Shared libraries loaded while the program runs, and their symbols; null
// when a library cannot be loaded or has no such symbol. With a null
// `library`, FindSymbol looks through everything the process has loaded.
void* OpenSharedLibrary(const char* fileName);
void* FindSymbol(void* library, const char* name);

// The signals that ask a process to end (SIGINT, SIGTERM, SIGHUP; on
// Windows the console's interrupt and SIGTERM) go to `handler` from now
// on, once: the disposition is back to the default when it runs, so that
// DieBySignal inside it ends the process by the same signal.
void OnTerminationSignals(void (*handler)(int signal));
// The default disposition for those signals again.
void DefaultTerminationSignals();
// Ends this process by `signal`, as its default disposition would; safe in
// a signal handler.
[[noreturn]] void DieBySignal(int signal);

// Worker processes. A worker is a copy of this process (fork, no exec)
// with a socket to talk over; it runs the body and ends with the body's
// value, without running destructors, exit handlers or flushing its
// streams. Where the system can (Linux) the kernel ends it with SIGKILL
// when the process that started it dies, however that dies. Descriptors are plain ints here. Where the system has no such
// workers (Windows), StartWorker returns false and the caller does the
// work itself.
struct WorkerProcess {
    long id = -1;
    int control = -1;  // the parent's end of the socket
};
bool StartWorker(WorkerProcess& worker, int (*body)(int control, void* context), void* context);

struct WorkerEnd {
    bool exited = false;  // ended by returning (or exiting) rather than by a signal
    int status = 0;       // the exit status, when exited
    int signal = 0;       // the signal that ended it, otherwise
};
// Waits for the worker to end (kill it first to be sure it does).
WorkerEnd WaitForWorker(const WorkerProcess& worker);
// Safe in a signal handler.
void KillWorker(long id);

// Waits until one of `count` descriptors has something to read (or has
// reached its end) or `timeoutMs` passes (negative: no limit); sets
// ready[i] for those that have. False on timeout.
bool WaitForInput(const int* descriptors, bool* ready, int count, int timeoutMs);
// Reads what is there, up to `size` bytes; 0 at the end, -1 on error.
long ReadSome(int descriptor, void* buffer, std::size_t size);
// Writes all of it to a socket; false on error.
bool WriteAll(int descriptor, const void* data, std::size_t size);
// Sends `size` bytes over a worker's socket with the open files of
// `files` (null ones left out, at most kMaxSentFiles), which the other end
// receives as files of its own; the sender keeps its own. False on error.
constexpr int kMaxSentFiles = 8;
bool SendWithFiles(int socket, const void* data, std::size_t size, std::FILE* const* files, int count);
// Receives one such message: up to `size` bytes, and the files sent with
// it as descriptors, in order, `count` of them (up to kMaxSentFiles).
// Bytes read; 0 at the end, -1 on error.
long ReceiveWithFiles(int socket, void* data, std::size_t size, int* descriptors, int& count);
// A received descriptor as a stream opened with `mode`; null (and the
// descriptor closed) when that fails.
std::FILE* OpenDescriptor(int descriptor, const char* mode);
void CloseDescriptor(int descriptor);

// Standard output and error end their lines in "\n" alone, as on every
// system, so that scripts and reports read the same everywhere.
void UseBinaryStandardStreams();

// Whether standard error is a terminal (a person watching).
bool StandardErrorIsTerminal();

// Sends what this process writes to standard output, or standard error,
// nowhere.
void DiscardStandardOutput();
void DiscardStandardError();

// Memory that a worker started after this call shares with its parent.
void* MapSharedMemory(std::size_t size);
void UnmapSharedMemory(void* memory, std::size_t size);

// The processors this process may run on (at least 1).
unsigned ProcessorCount();
// The machine's physical memory in bytes (0 when unknown).
std::uint64_t PhysicalMemoryBytes();
// Lets this process map no more than `bytes` of address space (never
// raising a lower limit it already has). False where that cannot be set.
bool LimitAddressSpace(std::uint64_t bytes);
// Lets this process use no more than `seconds` of processor time; past it
// the kernel ends it (never raising a lower limit). False where that
// cannot be set.
bool LimitProcessorTime(std::uint64_t seconds);
// Lets this process use `seconds` more of processor time from now on; past
// it the kernel ends it. Unlike LimitProcessorTime it can be moved on
// again, for a process that does one task after another, so it sets only
// the limit a process may raise again (the signal, not the kill).
bool LimitProcessorTimeFromNow(std::uint64_t seconds);

// Shuts this process in: from here on it can open, create, remove or
// rename no file, start no program, open no socket and send no signal;
// reading, writing and closing what it already holds, memory and threads
// stay allowed. Irreversible. False where the system offers no such
// sandbox (then nothing changes).
bool EnterSandbox();
