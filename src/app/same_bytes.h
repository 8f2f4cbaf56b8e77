#pragma once

// True when both paths name regular files with the same bytes (or the same
// file). False when they differ or either cannot be read; pipes and devices
// are never opened, so the picture loader still sees all of their bytes.
bool FilesHaveSameBytes(const char* pathA, const char* pathB);
