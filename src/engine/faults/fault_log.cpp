#include "engine/faults/fault_log.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "core/flags.h"
#include "engine/context.h"
#include "core/text.h"
#include "memory/phys_map.h"

namespace dravik {

namespace {

constexpr int kRereads = 8;
constexpr uint8_t kMarkHard = static_cast<uint8_t>(CellState::fault);
constexpr uint8_t kMarkTransient = static_cast<uint8_t>(CellState::suspect);

// The word as memory holds it now. The compiler must not reuse the value the
// test loop already loaded, so every re-read is a real load.
uint64_t load_again(const uint64_t* word) { return *static_cast<const volatile uint64_t*>(word); }

// True when one of the re-reads returns the expected value: the first
// mismatch did not persist.
bool healed_on_reread(const uint64_t* word, uint64_t expected) {
  for (int i = 0; i < kRereads; ++i) {
    if (load_again(word) == expected) return true;
  }
  return false;
}

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

void fill_new_record(EngineContext& run, FaultRecord& r, uint64_t addr, uint64_t paddr,
                     const TestBlock& block, uint64_t expected, uint64_t actual,
                     const char* test_name) {
  r = FaultRecord{};
  r.vaddr = addr;
  r.paddr = paddr;
  r.region = paddr != 0 ? ram_range_index(run.phys.ram_ranges, paddr) : -1;
  if (paddr != 0) memcpy(r.dimm, run.faults.dimm_label, sizeof r.dimm);
  snprintf(r.test, sizeof r.test, "%s", test_name != nullptr ? test_name : "");
  r.expected = expected;
  r.actual = actual;
  r.xor_value = expected ^ actual;
  r.bits = std::popcount(r.xor_value);
  r.count = 1;
  r.pass = block.pass;
  r.ts = now_seconds() - run.st.run_start_time;
}

}  // namespace

void record_fault(EngineContext& run, const TestBlock& block, uint64_t index, uint64_t expected,
                  uint64_t actual, const char* test_name) {
  const uint64_t* word = block.base + index;
  const uint64_t addr = reinterpret_cast<uint64_t>(word);
  const bool healed = healed_on_reread(word, expected);
  const uint64_t paddr = run.cfg.use_phys ? virt_to_phys(run.phys, addr) : 0;
  const int32_t threshold = std::max(run.cfg.hard_threshold, 1);

  FaultLog& log = run.faults;
  FaultRecord event{};
  bool notify = false;
  uint8_t mark = kMarkTransient;
  {
    std::lock_guard<std::mutex> hold(log.stats_lock);
    log.total.fetch_add(1, std::memory_order_relaxed);
    FaultRecord* found = find_record(log, addr, paddr);
    if (found != nullptr) {
      FaultRecord& r = *found;
      r.count += 1;
      r.actual = actual;
      r.xor_value = expected ^ actual;
      r.bits = std::popcount(r.xor_value);
      if (r.cls == FaultClass::hard) {
        mark = kMarkHard;
      } else if (r.count >= threshold) {
        r.cls = FaultClass::hard;
        log.hard += 1;
        if (log.transient > 0) log.transient -= 1;
        mark = kMarkHard;
      }
      event = r;
      notify = true;
    } else if (log.used < FaultLog::kCapacity) {
      FaultRecord& r = log.records[log.used++];
      fill_new_record(run, r, addr, paddr, block, expected, actual, test_name);
      // With the default threshold every address starts transient; the
      // re-read decides only when one sighting is enough to call it hard.
      if (!healed && threshold == 1) {
        r.cls = FaultClass::hard;
        log.hard += 1;
        mark = kMarkHard;
      } else {
        r.cls = FaultClass::transient;
        log.transient += 1;
      }
      event = r;
      notify = true;
    }
    log.shown_hard.store(log.hard, std::memory_order_relaxed);
    log.shown_transient.store(log.transient, std::memory_order_relaxed);
  }
  {
    // Marks only rise (transient to hard), so marking after the record is
    // released cannot lower a mark another thread set meanwhile.
    std::lock_guard<std::mutex> hold(run.map.lock);
    set_cell_state(run.map, cell_of_fault(run, paddr), mark);
  }
  // A worker never reaches the sink; its faults show through the counters,
  // the map and the fault list.
  if (notify && !in_worker) emit_event(run.sink, EventKind::fault, &event);
}

int32_t cell_of_fault(const EngineContext& run, uint64_t paddr) {
  if (paddr != 0 && !run.map.logical) return cell_of_phys(run.map, paddr);
  return cell_of_progress(run.map, run.st.pass_bytes.load(std::memory_order_relaxed),
                          run.st.budget);
}

int32_t snapshot_faults(const FaultLog& log, FaultRecord* out, int32_t max) {
  if (out == nullptr || max <= 0) return 0;
  std::lock_guard<std::mutex> hold(log.stats_lock);
  const int32_t n = std::min(log.used, max);
  std::copy(log.records.begin(), log.records.begin() + n, out);
  return n;
}

}  // namespace dravik
