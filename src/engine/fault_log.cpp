#include "engine/fault_log.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "core/flags.h"
#include "core/run.h"
#include "engine/text.h"
#include "memory/phys_map.h"

namespace dravik {

namespace {

constexpr int kRereads = 8;
constexpr int kEdacControllers = 8;
constexpr int kEdacDimms = 32;
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

// Reads one EDAC dimm_label file: one line of at most 39 characters with
// trailing newlines and blanks removed. Empty when missing or blank.
void read_dimm_label(const char* path, char out[40]) {
  out[0] = '\0';
  FILE* f = fopen(path, "re");
  if (f == nullptr) return;
  if (fgets(out, 40, f) == nullptr) out[0] = '\0';
  fclose(f);
  size_t n = strlen(out);
  while (n > 0 &&
         (out[n - 1] == '\n' || out[n - 1] == '\r' || out[n - 1] == ' ' || out[n - 1] == '\t')) {
    out[--n] = '\0';
  }
}

// The module label for a fault, when EDAC can name it without guessing. The
// label files say which slot each module sits in but not which addresses it
// holds, so a label is only given when the box has exactly one labelled module
// (however many entries repeat that label). With two different labels any
// choice could send the owner to the wrong module: leave it empty.
void unambiguous_dimm_label(const std::string& edac_mc, char out[40]) {
  out[0] = '\0';
  char path[192];
  char label[40];
  for (int mc = 0; mc < kEdacControllers; ++mc) {
    for (int dimm = 0; dimm < kEdacDimms; ++dimm) {
      const int n =
          snprintf(path, sizeof path, "%s/mc%d/dimm%d/dimm_label", edac_mc.c_str(), mc, dimm);
      if (n < 0 || static_cast<size_t>(n) >= sizeof path) continue;
      read_dimm_label(path, label);
      if (label[0] == '\0') continue;
      if (out[0] == '\0') {
        memcpy(out, label, sizeof label);
      } else if (strcmp(out, label) != 0) {
        out[0] = '\0';
        return;
      }
    }
  }
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

void fill_new_record(Run& run, FaultRecord& r, uint64_t addr, uint64_t paddr,
                     const TestBlock& block, uint64_t expected, uint64_t actual,
                     const char* test_name) {
  r = FaultRecord{};
  r.vaddr = addr;
  r.paddr = paddr;
  r.region = paddr != 0 ? ram_range_index(run.phys.ram_ranges, paddr) : -1;
  if (paddr != 0) unambiguous_dimm_label(run.paths.edac_mc, r.dimm);
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

void record_fault(Run& run, const TestBlock& block, uint64_t index, uint64_t expected,
                  uint64_t actual, const char* test_name) {
  const uint64_t* word = block.base + index;
  const uint64_t addr = reinterpret_cast<uint64_t>(word);
  const bool healed = healed_on_reread(word, expected);
  const uint64_t paddr = run.cfg.use_phys ? virt_to_phys(run.phys, addr) : 0;
  const int32_t threshold = std::max(run.cfg.hard_threshold, 1);

  FaultLog& log = run.faults;
  FaultRecord event{};
  bool notify = false;
  {
    std::lock_guard<std::mutex> hold(log.stats_lock);
    log.total.fetch_add(1, std::memory_order_relaxed);
    FaultRecord* found = find_record(log, addr, paddr);
    uint8_t mark = kMarkTransient;
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
    set_cell_state(run.map, cell_of_fault(run, paddr), mark);
  }
  // A worker never reaches the sink; its faults show through the counters,
  // the map and the fault list.
  if (notify && !in_worker) emit_event(run, EventKind::fault, &event);
}

int32_t cell_of_fault(const Run& run, uint64_t paddr) {
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
