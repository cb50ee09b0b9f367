// The verdict word the records of a fault test (the metrics and the history
// line) carry: what the run found, and for a run that found nothing, what it
// ended as. The summary words a run that found nothing by its end reason
// ("SO FAR ... TEST CANCELED" after a stop, "PASS" beside "aborted: ..."); a
// record is read without its end reason, so its word says it: "PASS" only for
// a run that completed and tested memory.
#pragma once
#include <cstdint>

namespace dravik {

// "FAIL", "SUSPECT" or "PASS_WITH_TRANSIENTS" as the JSON summary words the
// faults, whatever the end; else "CANCELED" after a stop by the user,
// "ABORTED" for any other end before completion (memory pressure, a refused
// lock, no memory, no worker) or a run that tested no byte, "PASS" for a
// completed run.
const char* fault_test_record_verdict(int64_t hard, int64_t transient, bool addressing_suspect,
                                      int32_t end_reason, uint64_t tested_bytes);

}  // namespace dravik
