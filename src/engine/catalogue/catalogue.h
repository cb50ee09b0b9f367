// The catalogue of pattern tests and the order in which each tier runs them
// over one block. Both are tables: a test is a row, a tier is a list of rows.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "core/config.h"
#include "engine/kernels/kernels.h"
#include "engine/test_block.h"

namespace dravik {

struct EngineContext;

// One test: its name (what begin_test announces and fault records carry), the
// routine, and the constants that make this row out of a shared routine.
struct CatalogueEntry {
  const char* name;
  AlgoFn fn;
  uint64_t pattern;   // solid and moving-inversion pattern
  uint64_t seed_xor;  // mixed into the block's test seed
  int32_t op;         // operation code of the extended group
};

// The 24 tests in catalogue order.
std::span<const CatalogueEntry> catalogue();

// The row of a test name, or null.
const CatalogueEntry* find_test(std::string_view name);

// Seed of the block's random tests: base seed, the window number at the
// moment the block's sequence starts, and the block's pass.
uint64_t block_test_seed(const EngineContext& run, const TestBlock& block);

// Runs one row over the block with the given block seed. The rows that end
// on a descending pass (movinv0, movinv1) are followed by a closing read of
// the pattern they leave, under their name.
void run_catalogue_test(EngineContext& run, const TestBlock& block, const CatalogueEntry& test,
                        uint64_t block_seed);

// The rows a configuration runs over each block, in order; returns how many
// were written (at most cap).
int tier_sequence(const RunConfig& cfg, const CatalogueEntry** out, int cap);

// Runs the configured tier's sequence over the block. Returns when the
// sequence ends or as soon as a stop is requested; faults go to record_fault.
// Runs on the main thread or on a worker thread.
void run_test_sequence(EngineContext& run, const TestBlock& block);

}  // namespace dravik
