#include "image/atomic_file.h"

#include "common/leftovers.h"
#include "platform/platform.h"

namespace {

// A new, empty file beside `target` (so that the final rename stays on one
// file system), named after it and this process; null when none can be
// made. On success `tempPath` names it, registered for the termination
// handler before the file exists: an interruption between the two would
// otherwise leave a file no one knows of.
std::FILE* CreateTempFileBeside(const char* target, std::string& tempPath) {
    const std::string prefix =
        std::string(target) + ".tmp" + std::to_string(CurrentProcessId()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix + std::to_string(attempt);
        RegisterTemporaryFile(tempPath.c_str());
        bool nameTaken = false;
        std::FILE* file = OpenNewFile(tempPath, nameTaken);
        if (file != nullptr) {
            return file;
        }
        UnregisterTemporaryFile(tempPath.c_str());
        if (!nameTaken) {
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace

AtomicFile::AtomicFile(const char* targetPath)
    : target(targetPath), file(CreateTempFileBeside(targetPath, tempPath)) {
    if (file == nullptr) {
        // The name may be another creator's: it is not ours to remove.
        tempPath.clear();
        failed = true;
    }
}

AtomicFile::AtomicFile(std::FILE* madeElsewhere) : file(madeElsewhere), failed(madeElsewhere == nullptr) {}

AtomicFile::~AtomicFile() {
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!committed && !tempPath.empty()) {
        UnregisterTemporaryFile(tempPath.c_str());
        RemoveFile(tempPath.c_str());
    }
}

bool AtomicFile::Close() {
    if (file != nullptr) {
        failed |= !SyncAndCloseFile(file);
        file = nullptr;
    }
    return !failed;
}

bool AtomicFile::CommitWrittenElsewhere() {
    if (file != nullptr) {
        failed |= std::fclose(file) != 0;
        file = nullptr;
    }
    return Commit();
}

bool AtomicFile::Commit() {
    if (!Close() || !ReplaceFileAtomically(tempPath.c_str(), target.c_str())) {
        return false;
    }
    committed = true;
    UnregisterTemporaryFile(tempPath.c_str());
    return true;
}
