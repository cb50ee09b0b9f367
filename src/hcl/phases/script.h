// The qualification as the rest of the program starts it: one call that runs
// the script of phases (script.cpp) on a context the caller built.
#pragma once

namespace dravik {

struct HclContext;

// Runs the whole qualification on the context: set-up, P0..P8, the end of
// the run and the verdict. Returns the process exit status (0 PASS or
// PASS-UNQUALIFIED, 1 FAIL, 2 MARGINAL, 3 INCONCLUSIVE or not enough memory).
int run_qualification(HclContext& ctx);

}  // namespace dravik
