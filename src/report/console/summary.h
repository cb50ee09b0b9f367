// The console summary of a PRODUCTION or OFFLINE run, and the exit status.
#pragma once
#include <cstdio>

namespace dravik {

struct RunView;

// The verdict word of the console summary.
const char* summary_verdict(const RunView& run);

// Prints the summary block.
void print_summary(const RunView& run, FILE* out);

// Exit status of a non-HCL run: 1 hard faults, 3 aborts, 2 transients only, 0.
int run_exit_code(const RunView& run);

}  // namespace dravik
