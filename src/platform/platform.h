// Facts about the operating system and nothing else: memory, the tick
// counter, file identity and the file operations an atomic replacement is
// made of. The only layer that includes OS headers; the Windows branch uses
// Win32 and the MSVC runtime, every other system POSIX.
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
// newSize) frees, giving back to the OS what lies beyond `newSize`
// (newSize <= size). False, with nothing changed, where that cannot be done
// in place: the caller then copies what it keeps into a smaller block.
bool ShrinkBuffer(void* memory, std::size_t size, std::size_t newSize);

// Gives heap memory that has been freed back to the OS where the heap
// would otherwise keep it for later use.
void ReleaseFreeHeapMemory();

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

// False when nothing can be found at `path`.
bool QueryFileIdentity(const char* path, FileIdentity& identity);
// The same for a file already open.
bool QueryOpenFileIdentity(std::FILE* file, FileIdentity& identity);
// True only when both identities are known to name one and the same file.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// A new, empty file in the directory of `target`, opened for binary
// writing, created with the permissions a plain fopen would give it. On
// success `tempPath` names it; returns null when no such file can be made.
std::FILE* CreateTempFileBeside(const char* target, std::string& tempPath);

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
