#include "core/run/flags.h"

#include <sched.h>

#include <csignal>

#include "core/run/state.h"

namespace dravik {

std::atomic<int32_t> stop_requested{0};
std::atomic<int32_t> pause_requested{0};
std::atomic<int32_t> resize_pending{0};
thread_local int32_t in_worker = 0;

namespace {

// The end reason of the run whose handler is installed. The handler touches
// only lock-free atomics: this pointer, the word it points at while the run
// lives, and the count of handlers between loading the pointer and being done
// with it. The run withdraws the pointer before its memory goes away (see
// withdraw_signal_end_reason), so a signal during the exit-time terminal
// restore finds nothing to write.
std::atomic<std::atomic<int32_t>*> g_end_reason{nullptr};
std::atomic<int32_t> g_handlers_inside{0};
static_assert(std::atomic<std::atomic<int32_t>*>::is_always_lock_free);

void on_signal(int sig) {
  if (sig == SIGWINCH) {
    resize_pending.store(1, std::memory_order_relaxed);
    return;
  }
  // Sequentially consistent with the withdrawal: either this handler sees the
  // cleared pointer, or the withdrawal sees this handler inside and waits.
  g_handlers_inside.fetch_add(1, std::memory_order_seq_cst);
  std::atomic<int32_t>* reason = g_end_reason.load(std::memory_order_seq_cst);
  if (reason != nullptr) {
    // A hangup is the loss of the terminal or session that started the run,
    // not a decision of its user.
    const EndReason why = sig == SIGHUP ? EndReason::HANGUP : EndReason::USER_STOP;
    int32_t none = static_cast<int32_t>(EndReason::NONE);
    reason->compare_exchange_strong(none, static_cast<int32_t>(why), std::memory_order_relaxed);
  }
  // The reason is in place before the stop is seen, so a loop that winds
  // down on the stop records why.
  stop_requested.fetch_add(1, std::memory_order_release);
  g_handlers_inside.fetch_sub(1, std::memory_order_seq_cst);
}

}  // namespace

void install_signal_handlers(std::atomic<int32_t>* end_reason) {
  g_end_reason.store(end_reason, std::memory_order_relaxed);
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A run started under nohup (SIGHUP ignored) was asked to outlive its
  // terminal: it keeps doing so.
  struct sigaction hup {};
  if (sigaction(SIGHUP, nullptr, &hup) != 0 || hup.sa_handler != SIG_IGN) {
    sigaction(SIGHUP, &sa, nullptr);
  }
  sigaction(SIGWINCH, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void withdraw_signal_end_reason(std::atomic<int32_t>* end_reason) {
  std::atomic<int32_t>* expected = end_reason;
  if (!g_end_reason.compare_exchange_strong(expected, nullptr, std::memory_order_seq_cst)) return;
  // A handler running on another thread may still hold the old pointer; it
  // finishes in a few instructions. A handler on this thread has already
  // finished by the time this loop runs again.
  while (g_handlers_inside.load(std::memory_order_seq_cst) != 0) sched_yield();
}

void reset_process_flags() {
  stop_requested.store(0, std::memory_order_relaxed);
  pause_requested.store(0, std::memory_order_relaxed);
  resize_pending.store(0, std::memory_order_relaxed);
}

}  // namespace dravik
