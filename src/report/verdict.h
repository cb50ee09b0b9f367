// The verdict word of the JSON summary, from the fault counters and the
// addressing-suspect flag.
#pragma once
#include <cstdint>

namespace dravik {

// "FAIL" with a hard fault; else "SUSPECT" when addressing is suspect; else
// "PASS" without transient faults; else "PASS_WITH_TRANSIENTS".
const char* json_verdict(int64_t hard, int64_t transient, bool addressing_suspect);

}  // namespace dravik
