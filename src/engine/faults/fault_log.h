// Fault records: one per faulty cell, classified hard or transient, with
// their counters. A cell is its physical address when translation gives one,
// else its virtual address. One mutex, stats_lock, guards them.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "engine/test_block.h"

namespace dravik {

struct EngineContext;

enum class FaultClass : int32_t { transient = 0, hard = 1 };

struct FaultRecord {
  char test[24] = {};
  int32_t pass = 0;
  uint64_t vaddr = 0;  // at the first sighting; later ones may differ
  uint64_t paddr = 0;  // 0: not translated, the record is keyed by vaddr
  int32_t region = -1;
  char dimm[40] = {};
  uint64_t expected = 0;
  uint64_t actual = 0;
  uint64_t xor_value = 0;
  int32_t bits = 0;
  FaultClass cls = FaultClass::transient;
  int32_t count = 0;
  double ts = 0.0;
};

struct FaultLog {
  static constexpr int kCapacity = 4096;
  // Guards every field below. Never held while another lock is taken.
  mutable std::mutex stats_lock;
  std::array<FaultRecord, kCapacity> records{};
  int32_t used = 0;
  int64_t hard = 0;
  int64_t transient = 0;
  // Every call of record_fault; atomic so that stuck-addr on a worker thread
  // can compare it before and after without the lock.
  std::atomic<int64_t> total{0};
  // Copies for the live displays, refreshed on every call.
  std::atomic<int64_t> shown_hard{0};
  std::atomic<int64_t> shown_transient{0};
  // The module label every physically placed fault carries: read once at
  // start-up, when EDAC names exactly one module (see dimm_label.h).
  char dimm_label[40] = {};
};

// Records one mismatch of word index of block (see the fault-recording rules).
// The caller must not have rewritten the word yet: it is re-read here.
void record_fault(EngineContext& run, const TestBlock& block, uint64_t index, uint64_t expected,
                  uint64_t actual, const char* test_name);

// Map cell of a fault at paddr: by physical address when the map is laid out
// by physical address and paddr is known, otherwise by how far the pass has
// come. A physical address never indexes a logical map. -1 when there is none.
int32_t cell_of_fault(const EngineContext& run, uint64_t paddr);

// Copy of up to max records from the first, taken under the lock (for live
// displays on the main thread while workers may be recording).
int32_t snapshot_faults(const FaultLog& log, FaultRecord* out, int32_t max);

}  // namespace dravik
