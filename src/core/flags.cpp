#include "core/flags.h"

#include <csignal>

#include "core/run_state.h"

namespace dravik {

std::atomic<int32_t> stop_requested{0};
std::atomic<int32_t> pause_requested{0};
std::atomic<int32_t> resize_pending{0};
thread_local int32_t in_worker = 0;

namespace {

// The end reason of the run whose handler is installed. The handler touches
// only lock-free atomics: this pointer and the word it points at.
std::atomic<std::atomic<int32_t>*> g_end_reason{nullptr};
static_assert(std::atomic<std::atomic<int32_t>*>::is_always_lock_free);

void on_signal(int sig) {
  if (sig == SIGWINCH) {
    resize_pending.store(1, std::memory_order_relaxed);
    return;
  }
  stop_requested.store(1, std::memory_order_relaxed);
  std::atomic<int32_t>* reason = g_end_reason.load(std::memory_order_relaxed);
  if (reason != nullptr) {
    int32_t none = static_cast<int32_t>(EndReason::NONE);
    reason->compare_exchange_strong(none, static_cast<int32_t>(EndReason::USER_STOP),
                                    std::memory_order_relaxed);
  }
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
  sigaction(SIGWINCH, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void reset_process_flags() {
  stop_requested.store(0, std::memory_order_relaxed);
  pause_requested.store(0, std::memory_order_relaxed);
  resize_pending.store(0, std::memory_order_relaxed);
}

}  // namespace dravik
