// Run configuration: every command-line setting, filled once on the main
// thread before anything else starts and read-only afterwards.
#pragma once
#include <cstdint>
#include <string>

namespace dravik {

inline constexpr const char* kTitle = "Dravik";
inline constexpr const char* kVersion = "0.6.0";

enum class RunMode : int32_t { PRODUCTION = 0, OFFLINE = 1, BENCH = 2, HCL = 3 };
// The full-screen dashboard drawn with ASCII characters (--ui) or with glyphs
// and 256 colours (--ui2), or JSON lines (--json).
enum class OutputStyle : int32_t { ascii_dashboard = 1, glyph_dashboard = 2, json = 3 };
// How much of the pattern-test catalogue a PRODUCTION or OFFLINE run takes
// (--quick, --standard, --thorough).
enum class PatternTier : int32_t { quick = 0, standard = 1, thorough = 2 };
// How long and how deep a qualification run goes (--tier).
enum class HclTier : int32_t { quick = 0, standard = 1, soak = 2 };
enum class SetupOverride : int32_t { none = 0, mixed = 1, uniform = 2 };

struct RunConfig {
  RunMode mode = RunMode::PRODUCTION;
  OutputStyle output = OutputStyle::ascii_dashboard;
  PatternTier tier = PatternTier::standard;
  int32_t strict = 0;
  int32_t use_phys = 1;
  int64_t reserve_mib = -1;  // any negative value means 256 MiB
  int64_t chunk_mib = 128;
  int32_t max_pauses = 3;
  int32_t pause_timeout_s = 120;
  int32_t threads = 1;
  int64_t passes = 1;        // 0 or negative: unlimited
  uint64_t mem_cap = 0;      // bytes; 0: no cap
  uint64_t seed = 0;         // 0 is replaced by a derived seed after parsing
  int32_t hard_threshold = 2;
  int32_t retention_s = 0;
  int32_t klog_enabled = 1;
  int32_t extended_tests = 0;
  int32_t selftest = 0;
  int32_t threads_given = 0;
  int32_t hcl_duration_s = 0;
  double jedec_gbs = 0.0;
  HclTier hcl_tier = HclTier::standard;
  SetupOverride setup_override = SetupOverride::none;
  double pass_pct = 80.0;
  double fail_pct = 60.0;
  int32_t pct_given = 0;
  // Records kept after the run; empty: none.
  std::string metrics_path;  // --metrics FILE: Prometheus text, replaced whole
  std::string history_path;  // --history FILE: one JSON line appended per run
  std::string report_path;       // --report FILE: the run's HTML page, replaced whole
  std::string report_from_path;  // --report-from FILE: render these saved JSON lines, test nothing
};

// MiB to bytes; a negative count is 0 and a count too large for 64 bits
// saturates instead of overflowing.
uint64_t mib_to_bytes(int64_t mib);
// The reserve kept free: reserve_mib MiB, or 256 MiB when it is negative.
uint64_t reserve_bytes(const RunConfig& cfg);
// Region size of the single sweep: chunk_mib MiB.
uint64_t chunk_bytes(const RunConfig& cfg);

const char* mode_word(RunMode mode);   // "PRODUCTION", "OFFLINE", "BENCH", "HCL"
const char* tier_word(PatternTier tier);  // "quick", "standard", "thorough"

}  // namespace dravik
