#include "core/config.h"

namespace dravik {

uint64_t mib_to_bytes(int64_t mib) {
  constexpr uint64_t kMiB = 1048576;
  if (mib <= 0) return 0;
  const uint64_t count = static_cast<uint64_t>(mib);
  if (count > UINT64_MAX / kMiB) return UINT64_MAX;
  return count * kMiB;
}

uint64_t reserve_bytes(const RunConfig& cfg) {
  return cfg.reserve_mib < 0 ? mib_to_bytes(256) : mib_to_bytes(cfg.reserve_mib);
}

uint64_t chunk_bytes(const RunConfig& cfg) { return mib_to_bytes(cfg.chunk_mib); }

const char* mode_word(RunMode mode) {
  switch (mode) {
    case RunMode::OFFLINE: return "OFFLINE";
    case RunMode::BENCH: return "BENCH";
    case RunMode::HCL: return "HCL";
    default: return "PRODUCTION";
  }
}

const char* tier_word(PatternTier tier) {
  switch (tier) {
    case PatternTier::quick: return "quick";
    case PatternTier::thorough: return "thorough";
    default: return "standard";
  }
}

}  // namespace dravik
