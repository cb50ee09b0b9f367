#include "report/records/record_verdict.h"

#include <cstring>

#include "core/run/state.h"
#include "report/verdict.h"

namespace dravik {

const char* fault_test_record_verdict(int64_t hard, int64_t transient, bool addressing_suspect,
                                      int32_t end_reason, uint64_t tested_bytes) {
  const char* found = json_verdict(hard, transient, addressing_suspect);
  if (strcmp(found, "PASS") != 0) return found;
  // A stop asked for (a user, systemctl stop) or the loss of the session
  // that started the run: it ended early by someone's hand, not by a fault.
  if (end_reason == static_cast<int32_t>(EndReason::USER_STOP) ||
      end_reason == static_cast<int32_t>(EndReason::HANGUP)) {
    return "CANCELED";
  }
  if (end_reason != static_cast<int32_t>(EndReason::COMPLETED) || tested_bytes == 0) {
    return "ABORTED";
  }
  return "PASS";
}

}  // namespace dravik
