#pragma once

#include <cstdio>

// True when both open files are regular files with the same bytes (or the
// same file). False when they differ or either cannot be read; pipes and
// devices are never read, so the picture loader still sees all of their
// bytes. Both files are left at their start.
bool FilesHaveSameBytes(std::FILE* fileA, std::FILE* fileB);
