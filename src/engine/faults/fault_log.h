// Fault records: one per faulty cell, classified hard or transient, with
// their counters. A cell is its physical address when translation gives one,
// else its virtual address. One mutex, stats_lock, guards them.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace dravik {

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
  // Every sighting filed (one per call of record_fault); atomic so that
  // stuck-addr on a worker thread can compare it before and after without
  // the lock.
  std::atomic<int64_t> total{0};
  // Copies for the live displays, refreshed on every call.
  std::atomic<int64_t> shown_hard{0};
  std::atomic<int64_t> shown_transient{0};
  // The module label every physically placed fault carries: read once at
  // start-up, when EDAC names exactly one module (see dimm_label.h).
  char dimm_label[40] = {};
};

// True when one of eight fresh reads of word returns expected: the mismatch
// a verifying read saw did not persist. Each re-read is a real load.
bool healed_on_reread(const uint64_t* word, uint64_t expected);

// One mismatch as the log files it: where, what, and what the re-reads said.
struct FaultSighting {
  const char* test = "";  // the test that saw it
  int32_t pass = 0;
  uint64_t vaddr = 0;
  uint64_t paddr = 0;     // 0: not translated
  int32_t region = -1;    // the RAM range paddr lies in, -1 without one
  uint64_t expected = 0;
  uint64_t actual = 0;
  double ts = 0.0;        // seconds since the run started
  bool healed = false;    // see healed_on_reread
};

// What filing a sighting left: a copy of its cell's record as it now stands,
// and whether the log holds it (false when the log was full and the cell had
// no record; the copy is then empty and transient).
struct FiledFault {
  FaultRecord record;
  bool stored = false;
};

// Files a sighting under the lock (see the fault-recording rules): a cell
// seen before counts one more sighting and turns hard at `threshold` of them
// (at least 1); a new cell starts transient, or hard at once when one
// sighting is enough and the re-reads did not heal it. Counts every call.
FiledFault file_fault(FaultLog& log, const FaultSighting& seen, int32_t threshold);

// Copy of up to max records from the first, taken under the lock (for live
// displays on the main thread while workers may be recording).
int32_t snapshot_faults(const FaultLog& log, FaultRecord* out, int32_t max);

}  // namespace dravik
