#include "engine/catalogue/catalogue.h"

#include <array>

#include "core/run/flags.h"
#include "engine/context.h"
#include "engine/patterns/patterns.h"
#include "engine/random/random.h"

namespace dravik {

namespace {

enum Id : uint8_t {
  stuck_addr, solid0, solid1, checker, movinv0, movinv1, movinv_rand, modulo20, walk,
  movinv8, blockseq, bitflip, bitspread, rand_dual, movinv_rot, block_move,
  cmp_xor, cmp_sub, cmp_mul, cmp_div, cmp_or, cmp_and, seqinc, retention, kCount
};

constexpr uint64_t kOnes = ~uint64_t{0};

// Row order is the Id order above.
constexpr std::array<CatalogueEntry, kCount> kCatalogue{{
    {"stuck-addr", algo_stuck_addr, 0, 0, 0},
    {"solid0", algo_solid, 0, 0, 0},
    {"solid1", algo_solid, kOnes, 0, 0},
    {"checker", algo_checker, 0, 0, 0},
    {"movinv0", algo_movinv, 0, 0, 0},
    {"movinv1", algo_movinv, kOnes, 0, 0},
    {"movinv-rand", algo_movinv_rand, 0, 0, 0},
    {"modulo20", algo_modulo20, 0, 0, 0},
    {"walk", algo_walk, 0, 0, 0},
    {"movinv8", algo_movinv8, 0, 0, 0},
    {"blockseq", algo_blockseq, 0, 0, 0},
    {"bitflip", algo_bitflip, 0, 0, 0},
    {"bitspread", algo_bitspread, 0, 0, 0},
    {"rand-dual", algo_rand_dual, 0, 0xABCD, 0},
    {"movinv-rot", algo_movinv_rot, 0, 0, 0},
    {"block-move", algo_block_move, 0, 0, 0},
    {"cmp-xor", algo_compare, 0, 0xC0FFFF, 0},
    {"cmp-sub", algo_compare, 0, 0xC0FFCC, 1},
    {"cmp-mul", algo_compare, 0, 0xC0FFDD, 2},
    {"cmp-div", algo_compare, 0, 0xC0FFAA, 3},
    {"cmp-or", algo_compare, 0, 0xC0FFBB, 4},
    {"cmp-and", algo_compare, 0, 0xC0FF88, 5},
    {"seqinc", algo_compare, 0, 0xC0FF99, 6},
    {"retention", algo_retention, 0, 0, 0},
}};

constexpr Id kQuick[] = {stuck_addr, checker, movinv_rand};
constexpr Id kStandard[] = {stuck_addr, solid0,   solid1,   checker,  movinv0,
                            movinv1,    movinv_rand, modulo20, walk, movinv8,
                            blockseq,   bitflip,  bitspread, rand_dual};
constexpr Id kThoroughExtra[] = {movinv_rot, block_move};
constexpr Id kExtended[] = {cmp_xor, cmp_sub, cmp_mul, cmp_div, cmp_or, cmp_and, seqinc};
constexpr Id kRetention[] = {retention};

// The moving inversions end on a descending pass that writes the pattern back
// from the top down, and the next test overwrites the block without reading
// it: a write there that disturbs a word above it, already rewritten, would
// never be seen. A closing read of the pattern they leave catches it (the
// last element of the classic March C- test). quick runs neither.
constexpr Id kClosingRead[] = {movinv0, movinv1};

bool has_closing_read(const CatalogueEntry& test) {
  for (Id id : kClosingRead) {
    if (&test == &kCatalogue[id]) return true;
  }
  return false;
}

// The longest sequence: thorough with the extended group and retention.
constexpr int kMaxSequence = std::size(kStandard) + std::size(kThoroughExtra) +
                             std::size(kExtended) + std::size(kRetention);

}  // namespace

std::span<const CatalogueEntry> catalogue() { return kCatalogue; }

const CatalogueEntry* find_test(std::string_view name) {
  for (const CatalogueEntry& e : kCatalogue) {
    if (name == e.name) return &e;
  }
  return nullptr;
}

uint64_t block_test_seed(const EngineContext& run, const TestBlock& block) {
  return test_seed(run.cfg.seed, run.st.regions_in_pass, block.pass);
}

void run_catalogue_test(EngineContext& run, const TestBlock& block, const CatalogueEntry& test,
                        uint64_t block_seed) {
  const AlgoParams params{test.name, test.pattern, block_seed ^ test.seed_xor, test.op};
  test.fn(run, block, params);
  if (has_closing_read(test) && !stopping()) {
    flush_span(run, block);
    ConstWords left{test.pattern};
    walk_checkpoints(run, block.words, [](uint64_t) { return 100.0; },
                     [&](uint64_t lo, uint64_t hi) {
                       check_span(run, block, lo, hi, left, test.name);
                     });
  }
}

int tier_sequence(const RunConfig& cfg, const CatalogueEntry** out, int cap) {
  int count = 0;
  auto add = [&](std::span<const Id> ids) {
    for (Id id : ids) {
      if (count < cap) out[count++] = &kCatalogue[id];
    }
  };
  if (cfg.tier == PatternTier::quick) {
    add(kQuick);
    return count;
  }
  add(kStandard);
  if (cfg.tier == PatternTier::thorough) add(kThoroughExtra);
  if (cfg.extended_tests) add(kExtended);
  if (cfg.retention_s > 0) add(kRetention);
  return count;
}

void run_test_sequence(EngineContext& run, const TestBlock& block) {
  const CatalogueEntry* sequence[kMaxSequence];
  const int count = tier_sequence(run.cfg, sequence, kMaxSequence);
  // The window number is read once: the seed of every random test of this
  // block belongs to the moment its sequence started.
  const uint64_t seed = block_test_seed(run, block);
  for (int k = 0; k < count; ++k) {
    if (stopping()) return;
    run_catalogue_test(run, block, *sequence[k], seed);
  }
}

}  // namespace dravik
