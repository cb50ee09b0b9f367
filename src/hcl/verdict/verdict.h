// The end of a qualification run: the figures are judged criterion by
// criterion, the criteria combine into one verdict with its exit status, and
// everything the report prints is gathered into one value the outputs format.
// Judging is pure: the same figures always give the same report.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "hcl/verdict/run_record.h"

namespace dravik {

enum class HclCriterion : int { pass = 0, marginal = 1, fail = 2, unknown = 3 };
const char* criterion_word(HclCriterion c);  // "pass", "marginal", "fail", "unknown"

enum class HclVerdict : int { pass, pass_unqualified, marginal, fail, inconclusive };
const char* verdict_word(HclVerdict v);  // "PASS", "PASS-UNQUALIFIED", "MARGINAL", "FAIL", "INCONCLUSIVE"
// Process exit status: 0 PASS and PASS-UNQUALIFIED, 1 FAIL, 2 MARGINAL,
// 3 INCONCLUSIVE.
int verdict_exit(HclVerdict v);

const char* hcl_tier_word(HclTier t);  // "quick", "standard", "soak"

// The limits the criteria are judged against; the reports print them beside
// the figures.
inline constexpr double kHclJitterLimit = 2.5;        // idle p99 over idle average
inline constexpr double kHclVarianceLimitPct = 5.0;   // round-to-round stddev, percent
inline constexpr double kHclDegradationFloor = 0.97;  // last quartile over first

// Efficiency floors in percent of the JEDEC reference. from_table is set
// when the operator gave either floor (a platform table), so the report can
// say where they came from.
struct HclFloors {
  double pass_floor = 80.0;
  double fail_floor = 60.0;
  bool from_table = false;
};
HclFloors hcl_floors(double pass_pct, double fail_pct, bool pct_given);

// What the verdict is judged from: the run record as the phases left it,
// the kit as the inventory saw it, and the readings taken after the pool
// shut down.
struct HclVerdictInputs {
  HclRun run;

  // Kit (inventory and uniformity gate).
  int module_count = -1;                // -1 no DMI table, 0 nothing populated
  int setup_uniform = -1;               // 1 uniform, 0 mixed, -1 unknown
  std::vector<std::string> setup_reasons;  // in the order found, at most 8
  double theoretical_gbs = 0.0;         // 0: no JEDEC reference
  std::string channels_src = "no DMI data";

  // Readings after the pool shut down (the starting ones are in run).
  int64_t edac_ce_end = -1;
  int64_t edac_ue_end = -1;
  int64_t klog_crit_end = 0;
  int64_t error_total = 0;              // every recorded bit error, +1 for a ledger mismatch
  bool stopped = false;                 // the stop flag at the end of the run
};

// The criteria of one run with the figures they were judged on.
struct HclCriteria {
  HclCriterion setup = HclCriterion::unknown;
  HclCriterion jedec_efficiency = HclCriterion::unknown;
  HclCriterion latency_jitter = HclCriterion::unknown;
  HclCriterion patterns = HclCriterion::pass;
  HclCriterion bit_fade = HclCriterion::unknown;
  HclCriterion variance = HclCriterion::unknown;
  HclCriterion degradation = HclCriterion::unknown;
  HclCriterion ce_policy = HclCriterion::pass;
  HclCriterion zero_errors = HclCriterion::pass;

  double efficiency_pct = 0.0;          // 0 without a reference
  double jitter_ratio = 0.0;            // idle p99 / idle average, 0 unmeasured
  int64_t ce_delta = 0;                 // 0 when either EDAC reading is missing
  int64_t ue_delta = 0;
  int64_t klog_crit_delta = 0;
  int64_t pattern_total = 0;            // addr + pattern + churn + realism + fade + cool-down
  int64_t fade_total = 0;               // fade + cool-down, the phases that ran
  bool throttled = false;               // over a quarter of the saturate rounds ran slow
  bool provisional = false;             // quick tier or under 30 s of saturation
};

HclCriteria hcl_criteria(const HclVerdictInputs& in, const HclFloors& floors, HclTier tier);

// What the verdict rules look at beside the criteria.
struct HclVerdictFacts {
  bool stopped = false;
  bool contended = false;
  bool busy = false;
  bool busy_latency = false;  // other work was there while the idle chase ran
};

// The first rule that applies decides: a stopped run is INCONCLUSIVE; a
// mixed kit or any error FAILs; a bandwidth or jitter shortfall is
// INCONCLUSIVE on a loaded system and FAILs on a quiet one (a marginal
// efficiency only caps), and a jitter shortfall is INCONCLUSIVE too when the
// box was busy while the chase ran; corrected errors and marginal figures cap at
// MARGINAL; a missing reference leaves PASS-UNQUALIFIED.
HclVerdict hcl_decide(const HclCriteria& c, const HclVerdictFacts& facts);

// Everything the end-of-run report shows, console or JSON.
struct HclVerdictReport {
  HclVerdictInputs figures;
  HclCriteria criteria;
  HclFloors floors;
  HclTier tier = HclTier::standard;
  HclVerdict verdict = HclVerdict::inconclusive;
  int exit = 3;
  bool qa_eligible = true;              // false only for a mixed kit
  // The stability line's word: marginal when variance or degradation is.
  HclCriterion stability = HclCriterion::pass;
};

HclVerdictReport build_hcl_verdict_report(const HclVerdictInputs& in, const RunConfig& cfg);

}  // namespace dravik
