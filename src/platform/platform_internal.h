// What each operating system's file supplies to the code both share.
#pragma once

#include <cstdio>
#include <string>

// Opens `path` for binary writing only if no file has that name yet (no
// race with another creator); `nameTaken` tells that case apart from a
// real failure. The new file gets the permissions a plain fopen would give.
std::FILE* OpenNewFile(const std::string& path, bool& nameTaken);

unsigned long CurrentProcessId();
