#include "engine/record_fault.h"

#include <mutex>

#include "core/run/flags.h"
#include "core/text.h"
#include "engine/context.h"
#include "memory/address/phys_map.h"

namespace dravik {

namespace {

constexpr uint8_t kMarkHard = static_cast<uint8_t>(CellState::fault);
constexpr uint8_t kMarkTransient = static_cast<uint8_t>(CellState::suspect);

}  // namespace

void record_fault(EngineContext& run, const TestBlock& block, uint64_t index, uint64_t expected,
                  uint64_t actual, const char* test_name) {
  const uint64_t* word = block.base + index;
  FaultSighting seen;
  seen.healed = healed_on_reread(word, expected);
  // Through uintptr_t: GCC widens a 32-bit pointer straight to 64 bits with
  // its sign, and an address above 2 GiB would read as 0xffffffff........
  seen.vaddr = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(word));
  seen.paddr = run.cfg.use_phys ? virt_to_phys(run.phys, seen.vaddr) : 0;
  seen.region = seen.paddr != 0 ? ram_range_index(run.phys.ram_ranges, seen.paddr) : -1;
  seen.test = test_name;
  seen.pass = block.pass;
  seen.expected = expected;
  seen.actual = actual;
  seen.ts = now_seconds() - run.st.run_start_time;

  const FiledFault filed = file_fault(run.faults, seen, run.cfg.hard_threshold);
  {
    // Marks only rise (transient to hard), so marking after the record is
    // released cannot lower a mark another thread set meanwhile.
    const uint8_t mark = filed.record.cls == FaultClass::hard ? kMarkHard : kMarkTransient;
    std::lock_guard<std::mutex> hold(run.map.lock);
    set_cell_state(run.map, cell_of_fault(run, seen.paddr), mark);
  }
  // A worker never reaches the sink; its faults show through the counters,
  // the map and the fault list.
  if (filed.stored && !in_worker) emit_event(run.sink, EventKind::fault, &filed.record);
}

int32_t cell_of_fault(const EngineContext& run, uint64_t paddr) {
  if (paddr != 0 && !run.map.logical) return cell_of_phys(run.map, paddr);
  return cell_of_progress(run.map, run.st.pass_bytes.load(std::memory_order_relaxed),
                          run.st.budget);
}

}  // namespace dravik
