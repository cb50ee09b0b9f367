// The fault-injection self check: plants a one-bit error in a locked buffer
// and checks that the detection chain reports it as a hard fault.
#pragma once
#include <cstdio>

namespace dravik {

struct Run;

// Prints its lines to out and returns the exit status (0 PASS, 1 FAIL).
int run_selftest(Run& run, FILE* out = stdout);

}  // namespace dravik
