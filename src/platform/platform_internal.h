// What each operating system's file supplies to the shared platform code.
#pragma once

#include <cstdio>
#include <string>

// Opens `path` for binary writing only if no file has that name yet (no
// race with another creator); `nameTaken` tells that case apart from a
// real failure. The new file gets the permissions a plain fopen would give.
std::FILE* OpenNewFile(const std::string& path, bool& nameTaken);

unsigned long CurrentProcessId();

// True when both paths name regular files of equal size; `sameFile` tells
// whether they are one and the same file, whose bytes need no reading.
bool RegularFilesOfEqualSize(const char* pathA, const char* pathB, bool& sameFile);
