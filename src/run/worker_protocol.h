// What a worker and its parent agree on. The worker tells everything about
// its run through the RunRecord both share (run_record.h); besides that
// there are only its exit status and two bytes on the control socket.
#pragma once

// The run reached its end and its record says how it came out. Any other
// end (a signal, another status) means the worker died on the way.
constexpr int kExitAnswered = 0;
// The run met a file only the picture library reads after the sandbox had
// shut it out of loading that library: run it again with the library
// loaded first.
constexpr int kExitNeedsLibrary = 3;

// The control socket's messages: the worker asks to put the difference
// picture or the report's pictures in place, and the parent answers
// whether it did.
constexpr char kPlaceOutput = 'P';
// Followed by one byte: the report pictures written, a bit per
// ReportPicture.
constexpr char kPlaceReportPictures = 'R';
constexpr char kPlaced = '1';
constexpr char kNotPlaced = '0';
