// Recording a mismatch a test saw: the word is re-read, tied to its physical
// address when translation is on, filed in the fault log, marked on the map
// and announced to the sink. The slow path of every verify; the fault log
// (faults/) keeps the records, the map (map/) the marks.
#pragma once
#include <cstdint>

namespace dravik {

struct EngineContext;
struct TestBlock;

// Records one mismatch of word index of block (see the fault-recording rules).
// The caller must not have rewritten the word yet: it is re-read here.
void record_fault(EngineContext& run, const TestBlock& block, uint64_t index, uint64_t expected,
                  uint64_t actual, const char* test_name);

// Map cell of a fault at paddr: by physical address when the map is laid out
// by physical address and paddr is known, otherwise by how far the pass has
// come. A physical address never indexes a logical map. -1 when there is none.
int32_t cell_of_fault(const EngineContext& run, uint64_t paddr);

}  // namespace dravik
