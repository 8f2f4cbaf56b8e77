#include "image/atomic_file.h"

#include "platform/platform.h"

AtomicFile::AtomicFile(const char* targetPath)
    : target(targetPath), file(CreateTempFileBeside(targetPath, tempPath)) {
    if (file == nullptr) {
        // The name may be another creator's: it is not ours to remove.
        tempPath.clear();
        failed = true;
    }
}

AtomicFile::~AtomicFile() {
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!committed && !tempPath.empty()) {
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

bool AtomicFile::Commit() {
    if (!Close() || !ReplaceFileAtomically(tempPath.c_str(), target.c_str())) {
        return false;
    }
    committed = true;
    return true;
}
