#include "engine/flush.h"

#include "engine/context.h"

namespace dravik {

namespace {

void boundary(const EngineContext& run, const TestBlock& block, bool flush) {
  if (flush && run.cfg.tier != PatternTier::quick && run.clflush_usable && block.words != 0) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(block.base);
    flush_lines(block.base, reinterpret_cast<const void*>(base + 8 * block.words),
                run.clflushopt != 0);
  }
  // The unordered flush is weakly ordered against other flushes and stores;
  // the fence completes every flush, and drains the non-temporal stores,
  // before the verify pass starts.
  full_fence();
  if (run.after_flush) run.after_flush(block);
}

}  // namespace

void flush_span(const EngineContext& run, const TestBlock& block) { boundary(run, block, true); }

void fence_streamed(const EngineContext& run, const TestBlock& block) {
  boundary(run, block, !cpu::kStreamedStoresLeaveNoCachedCopy);
}

}  // namespace dravik
