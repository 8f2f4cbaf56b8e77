// What an interrupted run must not leave behind: the temporary files it is
// writing and the workers it has started. The program registers them
// while they exist; a termination handler, which may interrupt it
// anywhere, removes and stops what is registered. Each slot is one
// lock-free atomic word, so the handler reads only whole entries.
#pragma once

// `path` must stay valid until it is unregistered. Best effort: when every
// slot is taken the file goes unregistered.
void RegisterTemporaryFile(const char* path);
void UnregisterTemporaryFile(const char* path);

void RegisterWorker(long id);
void UnregisterWorker(long id);

// For the termination handler: calls `action` with each registered entry.
// Safe in a signal handler when `action` is.
void ForEachTemporaryFile(void (*action)(const char* path));
void ForEachWorker(void (*action)(long id));
