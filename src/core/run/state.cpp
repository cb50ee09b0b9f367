#include "core/run/state.h"

#include "core/run/flags.h"

namespace dravik {

RunState::~RunState() { withdraw_signal_end_reason(&end_reason); }

const char* end_reason_text(int32_t reason) {
  switch (static_cast<EndReason>(reason)) {
    case EndReason::COMPLETED: return "completed";
    case EndReason::PRESSURE_ABORT: return "aborted: system memory pressure limits exceeded";
    case EndReason::USER_STOP: return "stopped by user";
    case EndReason::STRICT_MLOCK_ABORT: return "aborted: mlock failed in --strict mode";
    case EndReason::ALLOC_ABORT: return "aborted: could not allocate test memory";
    case EndReason::THREAD_START_ABORT: return "aborted: could not start worker threads";
    case EndReason::HANGUP: return "stopped: terminal hung up";
    default: return "unknown";
  }
}

}  // namespace dravik
