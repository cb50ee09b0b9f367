// The process-wide flags: written by one side (signal handler, key handler,
// aborts) and polled by every loop without a lock. They are lock-free atomics
// so that the signal handler may touch them.
#pragma once
#include <atomic>
#include <cstdint>

namespace dravik {

extern std::atomic<int32_t> stop_requested;   // set; each stop signal adds 1; never cleared
extern std::atomic<int32_t> pause_requested;  // toggled by the p key
extern std::atomic<int32_t> resize_pending;   // set by SIGWINCH, cleared by the UI tick

// Set as the first action of every worker thread: such a thread never emits
// events and never touches the terminal.
extern thread_local int32_t in_worker;

static_assert(std::atomic<int32_t>::is_always_lock_free);

inline bool stopping() { return stop_requested.load(std::memory_order_relaxed) != 0; }
inline bool pausing() { return pause_requested.load(std::memory_order_relaxed) != 0; }

// Installs the one handler for SIGINT, SIGTERM, SIGHUP and SIGWINCH (empty
// mask, no flags) and ignores SIGPIPE. On SIGINT/SIGTERM the handler sets
// stop_requested and, when *end_reason is still NONE, USER_STOP; SIGHUP does
// the same with HANGUP, so a run whose session closed still winds down and
// keeps its summary and records. A SIGHUP ignored before (nohup) stays
// ignored.
// The handler keeps end_reason until it is withdrawn.
void install_signal_handlers(std::atomic<int32_t>* end_reason);

// Called before the word behind end_reason goes away: from then on the handler
// no longer writes it, and a handler that was writing it has finished. Does
// nothing when another word is installed. Never call it from a handler.
void withdraw_signal_end_reason(std::atomic<int32_t>* end_reason);

// Resets the flags; used by tests that run several runs in one process.
void reset_process_flags();

}  // namespace dravik
