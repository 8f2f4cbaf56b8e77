// One pair's run: load both pictures, check their sizes, compare, and
// write the difference picture; everything it tells goes into its
// RunRecord.
#pragma once

#include <cstdint>

#include "diff/diff_image.h"
#include "diff/scope.h"
#include "image/atomic_file.h"
#include "image/image_file.h"
#include "run/run_record.h"

// The pictures a report shows of a pair that is not identical, as PNG.
enum ReportPicture : unsigned { kPictureA, kPictureB, kPictureDifference, kPictureHighlight, kReportPictures };

// One comparison as the command line asks for it.
struct Comparison {
    const char* pathA = nullptr;
    const char* pathB = nullptr;
    const char* diffPath = nullptr;  // null: no difference picture
    DiffMode mode = DiffMode::AbsDelta;
    std::uint64_t maxPixels = 0;     // 0: no limit
    bool ignoreAlpha = false;        // the 24-bit forms alone decide
    bool measure = false;            // fill the record's PairFacts
    // Large pictures our readers take may be read on two threads at once:
    // a run of one pair on a machine with cores to spare.
    bool readSideBySide = false;
    // Whole pictures even where rows would do: the oracle of the streamed
    // comparison in tests (GLIMRA_WHOLE_PICTURES in the environment).
    bool wholePictures = false;
    // What counts: without any of it, every sample of every pixel.
    Scope scope;
    // Where a report wants the pair's pictures (null: no report).
    const char* reportPictures[kReportPictures] = {};
};

// The files a run writes into, each made beside its path by the process
// that puts it in place; null where none is asked for.
struct RunOutputs {
    AtomicFile* difference = nullptr;
    AtomicFile* report[kReportPictures] = {};
};

// Limits on the process that does the work, where the system has workers.
struct RunLimits {
    unsigned timeoutSeconds = 0;     // 0: none
    std::uint64_t maxMemoryBytes = 0;  // 0: none
};

// What a comparison run needs from whoever started it: the supervising
// parent of a worker, or nothing much when it runs in this process.
class RunHost {
public:
    virtual ~RunHost() = default;
    // The file of side A (0) or B (1) of the pair, open for reading; null
    // when it cannot be opened. A host that was handed the files gives
    // those; any other opens `path`.
    virtual PictureFile OpenInput(int side, const char* path) {
        (void)side;
        return OpenPictureFile(path);
    }
    // Every file the run reads is open, and `libraryNeeded` tells whether
    // the picture library will surely be needed: from here on the run
    // opens nothing.
    virtual void InputsOpen(bool libraryNeeded) = 0;
    // The difference picture is written and closed in `output`: put it in
    // its place. False when that failed.
    virtual bool PlaceOutput(AtomicFile& output) = 0;
    // The report pictures in `written` (a bit per ReportPicture) are
    // written and closed: put them in place. False when that failed.
    virtual bool PlaceReportPictures(unsigned written) = 0;
};

// Loads both pictures, compares them and, when they differ, writes the
// difference picture and the report's pictures into `outputs` (A and B
// also for pictures of different sizes). The one place that catches
// FatalError: a failure ends up in `record`. Prints nothing.
PairStatus CompareImages(const Comparison& comparison, RunOutputs& outputs, RunHost& host,
                         RunRecord& record);
