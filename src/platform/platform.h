// The one place that knows which operating system we run on. Everything
// above this layer sees only these functions; the Windows branch uses the
// Win32 and MSVC runtime calls, every other system the POSIX equivalents.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Aligned heap memory. `alignment` must be a power of two; size 0 may return
// null. Memory from AlignedAlloc must go back through AlignedFree.
void* AlignedAlloc(std::size_t size, std::size_t alignment);
void AlignedFree(void* memory);

// Picture-sized buffers, 128-byte aligned. Those of kMappedBufferThreshold
// bytes or more arrive zero-filled: they are mapped straight from the OS,
// page-aligned and advised for huge pages where the OS offers them, so that
// first touching them costs one fault per huge page instead of one per
// 4 KiB page. Smaller ones come from the heap. FreeBuffer must be given
// the size that AllocateBuffer got, which tells it which kind the block
// is. Null when out of memory; size 0 may return null.
void* AllocateBuffer(std::size_t size);
void FreeBuffer(void* memory, std::size_t size);
// Sizes from this one on are mapped rather than taken from the heap.
extern const std::size_t kMappedBufferThreshold;

// Gives the memory the heap keeps back to the OS, once no further picture
// is to be loaded, so that it does not add to the peak beside the pictures
// still to be made.
void ReturnFreedMemory();

// True when both paths name regular files with the same bytes (or the
// same file). False when they differ or either cannot be read.
bool FilesHaveSameBytes(const char* pathA, const char* pathB);

// A monotonic tick counter and its fixed rate in ticks per second.
std::uint64_t QueryCounterTicks();
std::uint64_t QueryCounterFrequency();

// vsnprintf with the cut-off semantics of _vsnprintf: writes at most
// `size` bytes and may leave the buffer unterminated when the text is
// longer, so callers terminate it themselves. Returns what the underlying
// call returns.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 0)))
#endif
int FormatToBuffer(char* buffer, std::size_t size, const char* format,
                   std::va_list args);

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

// File positions beyond 2 GiB on every platform.
int SeekFile(std::FILE* file, std::int64_t offset, int origin);
std::int64_t TellFile(std::FILE* file);
