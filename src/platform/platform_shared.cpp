#include "platform/platform.h"

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.fileNumber != 0 && a.device == b.device && a.fileNumber == b.fileNumber;
}
