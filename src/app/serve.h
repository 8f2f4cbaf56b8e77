// --serve: one process for a whole test run. Requests come on standard
// input, one JSON object a line ({"id", "a", "b", "diff"?, "options"?});
// each gets one line on standard output, in the order of the requests:
// the pair's JSON of schema 1 with the request's id, or, for a request
// that cannot be run, {"id", "status":"failed", "message"}. Pairs run in
// serving workers started once; the command line's options are the
// defaults a request's options override.
#pragma once

#include "run/compare_images.h"

// Serves until standard input ends; the exit status.
int RunServer(const Comparison& defaults, RunLimits& limits, unsigned jobs);
