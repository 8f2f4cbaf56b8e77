// A file that its readers see either complete or not at all: the bytes go
// to a new file beside the target, which takes the target's place only on
// Commit. Whatever was not committed is removed when the object goes, or
// by the termination handler when the process is interrupted first.
#pragma once

#include <cstdio>
#include <string>

class AtomicFile {
public:
    explicit AtomicFile(const char* targetPath);
    // The writing end of a file another process made and puts in place
    // (a worker's, sent by its parent): only Stream and Close apply.
    explicit AtomicFile(std::FILE* madeElsewhere);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where to write; null when no file could be made beside the target.
    // Its name is the target's with ".tmp<process id>.<n>" added.
    std::FILE* Stream() const { return file; }

    // Flushes the bytes to the storage device and closes the file. False
    // when that or an earlier step failed.
    bool Close();

    // Closes the file if still open and puts it in the target's place.
    // False when any step failed; the target is then as it was.
    bool Commit();
    // The same for a file that another process (a worker, through its copy
    // of the descriptor) has written, flushed to the device and closed:
    // this handle only closes.
    bool CommitWrittenElsewhere();

private:
    std::string target;
    std::string tempPath;
    std::FILE* file = nullptr;
    bool failed = false;
    bool committed = false;
};
