#pragma once

// Parses the command line (argv[0] is the program's own name), runs the
// comparison and returns the exit status: 0 identical, 1 otherwise,
// including every command line that only got the usage text.
int RunCommandLine(int argc, const char* const* argv);

// P% with P a decimal number from 0 to 100 (at most "100", "2.5", ".5").
bool ParsePercent(const char* value, double& percent);
