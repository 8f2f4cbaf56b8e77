#include "platform/platform.h"
#include "platform/platform_internal.h"

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.fileNumber != 0 && a.device == b.device && a.fileNumber == b.fileNumber;
}

std::FILE* CreateTempFileBeside(const char* target, std::string& tempPath) {
    // Beside the target, so that the final rename stays on one file system.
    const std::string prefix =
        std::string(target) + ".tmp" + std::to_string(CurrentProcessId()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix + std::to_string(attempt);
        bool nameTaken = false;
        std::FILE* file = OpenNewFile(tempPath, nameTaken);
        if (file != nullptr || !nameTaken) {
            return file;
        }
    }
    return nullptr;
}
