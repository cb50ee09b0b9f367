// When a write/verify boundary flushes the block's lines and when it only
// fences. After streamed stores on a processor whose non-temporal stores
// leave no cached copy, a flush only costs every test a walk over its block;
// where they may leave one, a boundary without the flush lets the verify read
// the cache instead of the memory and miss the fault.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "engine/flush.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using Boundary = void (*)(const EngineContext&, const TestBlock&);

// The child's status when the boundary touched the block. The child's own
// handler ends it, so a sanitizer's handler (which would report the fault and
// exit with its own status) does not decide how it ends.
constexpr int kFaulted = 3;

void on_fault(int) { _exit(kFaulted); }

// Whether the boundary walks the block's lines. A flush is the one thing at
// the boundary that touches the block: over pages that allow no access it
// faults. Run in a child, which that fault ends.
bool flushes(const EngineContext& run, Boundary boundary) {
  const size_t bytes = 2 * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) {
    ADD_FAILURE() << "no mapping";
    return false;
  }
  const TestBlock block{static_cast<uint64_t*>(map), bytes / 8, 1};
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    struct sigaction sa {};
    sa.sa_handler = on_fault;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, nullptr);
    sigaction(SIGBUS, &sa, nullptr);
    boundary(run, block);
    _exit(0);
  }
  int status = 0;
  const bool waited = pid > 0 && waitpid(pid, &status, 0) == pid;
  munmap(map, bytes);
  EXPECT_TRUE(waited);
  const bool exited = WIFEXITED(status);
  EXPECT_TRUE(exited && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kFaulted))
      << "status " << status;
  return waited && exited && WEXITSTATUS(status) == kFaulted;
}

TEST(FlushDecision, TheBoundaryFlushesExactlyWhereTheVerifyCouldReadACache) {
  constexpr bool kAfterStreamed = !cpu::kStreamedStoresLeaveNoCachedCopy;
  struct Case {
    const char* name;
    Boundary boundary;
    PatternTier tier;
    int32_t usable;
    int32_t unordered;
    bool flush;
  } cases[] = {
      {"written through the cache", flush_span, PatternTier::standard, 1, 0, true},
      {"written through the cache, unordered flush", flush_span, PatternTier::thorough, 1, 1, true},
      {"quick tier", flush_span, PatternTier::quick, 1, 0, false},
      {"flush not usable", flush_span, PatternTier::standard, 0, 0, false},
      {"streamed stores", fence_streamed, PatternTier::standard, 1, 0, kAfterStreamed},
      {"streamed stores, unordered flush", fence_streamed, PatternTier::thorough, 1, 1, kAfterStreamed},
      {"streamed stores, quick tier", fence_streamed, PatternTier::quick, 1, 0, false},
  };
  ASSERT_EQ(probe_clflush(), 1);
  for (const Case& c : cases) {
    auto run = testing::make_run();
    run->cfg.tier = c.tier;
    run->clflush_usable = c.usable;
    run->clflushopt = c.unordered && cpu_has_clflushopt();
    EXPECT_EQ(flushes(*run, c.boundary), c.flush) << c.name;
  }
}

}  // namespace
}  // namespace dravik
