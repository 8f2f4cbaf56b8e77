// --update: a run that accepts B as the new reference copies it to A's
// path, for every pair that differs and every picture only B has.
#pragma once

#include <string>

#include "app/batch_inputs.h"

// Whether the pair is one --update copies: different (sizes included,
// similar not) or only in B.
bool WantsUpdate(const BatchPair& pair);

// Copies B's file to A's path: A's folders are made, the bytes go to a
// file beside A that takes its place only once complete and flushed, with
// A's permission bits. False, with `problem` saying why, when any step
// failed; A's file is then as it was.
bool AcceptB(const BatchPair& pair, std::string& problem);
