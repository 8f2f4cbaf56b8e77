#include "app/update.h"

#include <cstdio>
#include <filesystem>

#include "image/atomic_file.h"
#include "image/image_file.h"
#include "platform/platform.h"

bool WantsUpdate(const BatchPair& pair) {
    return pair.status == PairStatus::Different || (pair.status == PairStatus::Missing && pair.missingA);
}

bool AcceptB(const BatchPair& pair, std::string& problem) {
    const std::string failed = "Failed to update " + pair.pathA + ": ";
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(pair.pathA).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
    }
    const PictureFile in(OpenRegularFile(pair.pathB.c_str()));
    if (in == nullptr) {
        problem = failed + "can't read " + pair.pathB;
        return false;
    }
    AtomicFile out(pair.pathA.c_str());
    if (out.Stream() == nullptr) {
        problem = failed + "can't write there";
        return false;
    }
    if (!CopyFileBytes(in.get(), out.Stream()) || !KeepFileMode(pair.pathA.c_str(), out.Stream()) || !out.Commit()) {
        problem = failed + "the copy of " + pair.pathB + " could not be written whole; the old file is kept";
        return false;
    }
    return true;
}
