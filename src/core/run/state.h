// The run-wide record of totals, budget, pass and byte counters, capability
// flags and the end reason.
#pragma once
#include <atomic>
#include <cstdint>

namespace dravik {

enum class EndReason : int32_t {
  NONE = 0,
  COMPLETED = 1,
  PRESSURE_ABORT = 2,
  USER_STOP = 3,
  STRICT_MLOCK_ABORT = 4,
  ALLOC_ABORT = 5,
  THREAD_START_ABORT = 6,  // threaded OFFLINE could start no worker at all
  HANGUP = 7,              // SIGHUP: the terminal or session that started the run went away
};

// Report text of an end reason; any unknown value reads "unknown".
const char* end_reason_text(int32_t reason);

// Fields written by worker threads (or by the signal handler) and read by the
// main thread without a lock are relaxed atomics: the readers only need an
// eventually visible value, never an ordering.
struct RunState {
  RunState() = default;
  RunState(const RunState&) = delete;
  RunState& operator=(const RunState&) = delete;
  // Withdraws end_reason from the signal handler, which may still run (at
  // exit, say) after the run is gone.
  ~RunState();

  uint64_t mem_total = 0;
  uint64_t mem_available_start = 0;
  uint64_t untested = 0;
  uint64_t budget = 0;
  int32_t budget_taken = 0;  // budget and untested hold this run's values
  // The budget was cut to what one process can map (a 32-bit process on a
  // box with more memory than that); budget_wanted is what it would have been.
  int32_t space_limited = 0;
  uint64_t budget_wanted = 0;
  int32_t phys_ok = 0;
  uint64_t cache_sizes[3] = {0, 0, 0};
  int64_t edac_ce_start = -1, edac_ue_start = -1;
  int64_t edac_ce_end = -1, edac_ue_end = -1;
  int32_t is_root = 0;
  int64_t current_pass = 0;
  int64_t total_passes = 0;
  std::atomic<uint64_t> pass_bytes{0};
  std::atomic<uint64_t> total_bytes{0};
  // Current algorithm: name points at a string with static storage (the
  // catalogue's names), so a reader never sees a torn text.
  std::atomic<const char*> algo_name{""};
  std::atomic<int32_t> algo_pct{0};
  std::atomic<int32_t> color_counter{0};  // 0..3, advanced when the algorithm changes
  int32_t regions_in_pass = 0;
  std::atomic<int32_t> last_locked{0};
  int32_t active_lo = -1, active_hi = -1;  // cells of the window under test
  int32_t idle_sched = 0;
  int32_t nice = 0;
  double run_start_time = 0.0;
  std::atomic<int32_t> end_reason{0};
  std::atomic<int32_t> address_fault_seen{0};
  char status_line[192] = {};  // the last status message (main thread only)
};

// Records a reason only while none is recorded yet; the first cause wins.
inline void set_end_reason_if_none(RunState& st, EndReason reason) {
  int32_t expected = static_cast<int32_t>(EndReason::NONE);
  st.end_reason.compare_exchange_strong(expected, static_cast<int32_t>(reason),
                                        std::memory_order_relaxed);
}
// The two allocation aborts overwrite whatever was recorded before.
inline void force_end_reason(RunState& st, EndReason reason) {
  st.end_reason.store(static_cast<int32_t>(reason), std::memory_order_relaxed);
}
inline EndReason end_reason_of(const RunState& st) {
  return static_cast<EndReason>(st.end_reason.load(std::memory_order_relaxed));
}

}  // namespace dravik
