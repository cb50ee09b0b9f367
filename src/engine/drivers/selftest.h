// The fault-injection self check: plants a one-bit error in a locked buffer
// and checks that the detection chain reports it as a hard fault.
#pragma once
#include <cstdint>
#include <cstdio>

namespace dravik {

struct SysPaths;

// Builds its own small run over the page map of paths, prints its lines to
// out and returns the exit status (0 PASS, 1 FAIL). The read-back flushes
// the line when the probe finds the flush usable; *flushed (when given)
// tells whether it did.
int run_selftest(const SysPaths& paths, FILE* out = stdout, int32_t* flushed = nullptr);

}  // namespace dravik
