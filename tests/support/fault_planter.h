// A fault planter for the detection tests (x86-64 Linux): a block of shared
// memory whose faulty cells misbehave under any code that touches them. The
// pages holding a planted cell are kept inaccessible; every instruction that
// touches one faults, and the planter opens the pages, lets that one
// instruction run under the trap flag and applies the fault models around
// it: before it (a decayed bit, a glitched first read) and after it (a stuck
// or transition cell, a coupled victim). The width of the access comes from
// decoding the instruction; one the decoder does not know is counted in
// undecodable() (glibc's AVX-512 string functions use masked stores it cannot
// decode: run under GLIBC_TUNABLES that turn them off).
//
// One planter is armed at a time, on the thread that runs the code under
// test. Its handlers change only atomics and the block's words (through
// atomic_ref); the fault table and the trapped pages are fixed before arming.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/test_block.h"

namespace dravik::testing {

enum class FaultModel : int32_t {
  none,                 // a healthy cell on a trapped page
  stuck_at,             // bit always reads `up` (1) or not (0)
  transition,           // a write taking the bit 0->1 (up) or 1->0 fails
  inversion_coupling,   // the aggressor bit's up (or down) transition flips the victim bit
  idempotent_coupling,  // ... forces the victim bit to `to_one`
  aliased_page,         // the page of `word` is the page of `aggressor` mapped again
  decay,                // not written for hold seconds, the bit falls from 1 to 0 (up) or rises
  first_read_glitch,    // the first load after a write sees the bit flipped; memory keeps it
  single_read_glitch,   // only the first load after the first write sees it: no later write
                        // brings the glitch back
};

struct PlantedFault {
  FaultModel model = FaultModel::none;
  uint64_t word = 0;       // index of the cell that goes wrong (the victim)
  int32_t bit = 0;
  bool up = true;
  bool to_one = false;
  uint64_t aggressor = 0;  // coupling: aggressor word; aliased_page: the page shown again
  int32_t aggressor_bit = 0;
};

class FaultPlanter {
 public:
  // A page-aligned block of `words` words (whole pages) with the faults
  // placed; aliased pages are mapped at construction.
  FaultPlanter(uint64_t words, std::vector<PlantedFault> faults, double hold_s = 0.5);
  ~FaultPlanter();
  FaultPlanter(const FaultPlanter&) = delete;
  FaultPlanter& operator=(const FaultPlanter&) = delete;

  static bool supported();
  bool ok() const { return base_ != nullptr; }
  TestBlock block(int32_t pass) const { return TestBlock{base_, words_, pass}; }
  const std::vector<PlantedFault>& faults() const { return faults_; }

  // Fills the block with zeros, resets every model and protects the trapped
  // pages; disarm() opens them again. Arming installs the handlers.
  void arm();
  void disarm();
  int64_t steps() const { return steps_.load(); }
  int64_t undecodable() const { return undecodable_.load(); }

  // Called from the signal handlers.
  bool on_fault(void* addr, void* ucontext);
  bool on_trap(void* ucontext);

 private:
  struct CellState {
    std::atomic<uint64_t> before{0};  // the victim word before the step
    std::atomic<uint64_t> agg_before{0};
    std::atomic<bool> armed{false};   // glitch: written since its last load
    std::atomic<bool> glitched{false};
    std::atomic<bool> spent{false};   // single_read_glitch: seen once already
    std::atomic<int64_t> written_ns{0};
  };
  void set_access(bool open);
  bool covers(uint64_t word) const;

  uint64_t* base_ = nullptr;
  uint64_t words_ = 0;
  int fd_ = -1;
  double hold_s_;
  std::vector<PlantedFault> faults_;
  std::vector<uint64_t*> pages_;  // trapped pages
  std::unique_ptr<CellState[]> cells_;
  std::atomic<bool> stepping_{false};
  std::atomic<uintptr_t> access_lo_{0};
  std::atomic<uintptr_t> access_hi_{0};
  std::atomic<bool> access_write_{false};
  std::atomic<int64_t> steps_{0};
  std::atomic<int64_t> undecodable_{0};
};

}  // namespace dravik::testing
