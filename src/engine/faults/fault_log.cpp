#include "engine/faults/fault_log.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace dravik {

namespace {

constexpr int kRereads = 8;

// The word as memory holds it now. The compiler must not reuse the value the
// test loop already loaded, so every re-read is a real load.
uint64_t load_again(const uint64_t* word) { return *static_cast<const volatile uint64_t*>(word); }

// The record of the cell a sighting fell on. With a physical address the
// frame names the cell: a later pass may place the same virtual address on
// another frame, or the same frame under another virtual address. Without
// one only the virtual address is known, and it matches only records that
// have no physical address either.
FaultRecord* find_record(FaultLog& log, uint64_t addr, uint64_t paddr) {
  for (int32_t i = 0; i < log.used; ++i) {
    FaultRecord& r = log.records[i];
    if (paddr != 0 ? r.paddr == paddr : (r.paddr == 0 && r.vaddr == addr)) return &r;
  }
  return nullptr;
}

void fill_new_record(const FaultLog& log, FaultRecord& r, const FaultSighting& seen) {
  r = FaultRecord{};
  r.vaddr = seen.vaddr;
  r.paddr = seen.paddr;
  r.region = seen.region;
  if (seen.paddr != 0) memcpy(r.dimm, log.dimm_label, sizeof r.dimm);
  snprintf(r.test, sizeof r.test, "%s", seen.test != nullptr ? seen.test : "");
  r.expected = seen.expected;
  r.actual = seen.actual;
  r.xor_value = seen.expected ^ seen.actual;
  r.bits = std::popcount(r.xor_value);
  r.count = 1;
  r.pass = seen.pass;
  r.ts = seen.ts;
}

}  // namespace

bool healed_on_reread(const uint64_t* word, uint64_t expected) {
  for (int i = 0; i < kRereads; ++i) {
    if (load_again(word) == expected) return true;
  }
  return false;
}

FiledFault file_fault(FaultLog& log, const FaultSighting& seen, int32_t threshold) {
  threshold = std::max(threshold, 1);
  FiledFault filed;
  std::lock_guard<std::mutex> hold(log.stats_lock);
  log.total.fetch_add(1, std::memory_order_relaxed);
  FaultRecord* found = find_record(log, seen.vaddr, seen.paddr);
  if (found != nullptr) {
    FaultRecord& r = *found;
    r.count += 1;
    r.actual = seen.actual;
    r.xor_value = seen.expected ^ seen.actual;
    r.bits = std::popcount(r.xor_value);
    if (r.cls != FaultClass::hard && r.count >= threshold) {
      r.cls = FaultClass::hard;
      log.hard += 1;
      if (log.transient > 0) log.transient -= 1;
    }
    filed = {r, true};
  } else if (log.used < FaultLog::kCapacity) {
    FaultRecord& r = log.records[log.used++];
    fill_new_record(log, r, seen);
    // With the default threshold every address starts transient; the
    // re-read decides only when one sighting is enough to call it hard.
    if (!seen.healed && threshold == 1) {
      r.cls = FaultClass::hard;
      log.hard += 1;
    } else {
      r.cls = FaultClass::transient;
      log.transient += 1;
    }
    filed = {r, true};
  }
  log.shown_hard.store(log.hard, std::memory_order_relaxed);
  log.shown_transient.store(log.transient, std::memory_order_relaxed);
  return filed;
}

int32_t snapshot_faults(const FaultLog& log, FaultRecord* out, int32_t max) {
  if (out == nullptr || max <= 0) return 0;
  std::lock_guard<std::mutex> hold(log.stats_lock);
  const int32_t n = std::min(log.used, max);
  std::copy(log.records.begin(), log.records.begin() + n, out);
  return n;
}

}  // namespace dravik
