// The one place where a run's messages are worded: the failure, the
// outcome line and the phase timer lines, all made from its RunRecord.
#pragma once

#include <string>

#include "run/compare_images.h"

// Why the run failed, as LogMessage formats it (the messages about saving
// end in a line end of their own, so that an empty line follows them);
// empty when it did not fail.
std::string FailureMessage(const RunRecord& record, const Comparison& comparison);

// The same on one line, for reports that give it as a field.
std::string FailureLine(const RunRecord& record, const Comparison& comparison);

// Prints every line of the run in the order it met them: each phase's
// failure or outcome, then in verbose mode its timer line; the failures of
// the size and sample checks between the loading and the comparing phase.
void PrintRunMessages(const RunRecord& record, const Comparison& comparison, bool verbose);
