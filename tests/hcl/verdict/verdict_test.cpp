// The verdict of a qualification run follows its figures: floors, criteria and
// the rules in their order, down to each edge.
#include "hcl/verdict/verdict.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/hcl_clean_run.h"

namespace dravik {
namespace {

// The clean run with round figures, so that every edge below is a plain
// number: 90 % of a 50 GB/s reference, jitter x1.5 of 100 ns, 20 rounds.
HclVerdictInputs clean_run() {
  HclVerdictInputs in = testing::clean_run_inputs();
  in.theoretical_gbs = 50.0;
  in.run.peak_read = 45.0;
  in.run.lat_idle_avg = 100.0;
  in.run.lat_idle_p99 = 150.0;
  in.run.rounds = 20;
  return in;
}

using Edit = std::function<void(HclVerdictInputs&, RunConfig&)>;

struct Outcome {
  HclVerdict verdict;
  bool qa_eligible = true;
  bool provisional = false;
};

TEST(HclVerdict, RulesInOrderOverEveryEdge) {
  struct Case {
    const char* name;
    Edit edit;
    Outcome want;
  } cases[] = {
      {"clean", [](auto&, auto&) {}, {HclVerdict::pass}},
      {"efficiency exactly 80.0 passes", [](auto& in, auto&) { in.run.peak_read = 40.0; },
       {HclVerdict::pass}},
      {"efficiency 79.9 is marginal", [](auto& in, auto&) { in.run.peak_read = 39.95; },
       {HclVerdict::marginal}},
      {"efficiency 60.0 is still marginal", [](auto& in, auto&) { in.run.peak_read = 30.0; },
       {HclVerdict::marginal}},
      {"efficiency 59.9 fails", [](auto& in, auto&) { in.run.peak_read = 29.95; },
       {HclVerdict::fail}},
      {"marginal efficiency on a busy box",
       [](auto& in, auto&) {
         in.run.peak_read = 39.95;
         in.run.busy = true;
       },
       {HclVerdict::inconclusive}},
      {"failing efficiency on a contended box",
       [](auto& in, auto&) {
         in.run.peak_read = 20.0;
         in.run.contended = true;
       },
       {HclVerdict::inconclusive}},
      {"marginal efficiency, 6 of 20 rounds throttled",
       [](auto& in, auto&) {
         in.run.peak_read = 39.95;
         in.run.throttle_samples = 6;
       },
       {HclVerdict::inconclusive}},
      {"marginal efficiency, exactly a quarter throttled",
       [](auto& in, auto&) {
         in.run.peak_read = 39.95;
         in.run.throttle_samples = 5;
       },
       {HclVerdict::marginal}},
      {"throttled box with full bandwidth", [](auto& in, auto&) { in.run.throttle_samples = 20; },
       {HclVerdict::pass}},
      {"jitter 2.6 on a quiet box", [](auto& in, auto&) { in.run.lat_idle_p99 = 260.0; },
       {HclVerdict::fail}},
      {"jitter 2.6 on a contended box",
       [](auto& in, auto&) {
         in.run.lat_idle_p99 = 260.0;
         in.run.contended = true;
       },
       {HclVerdict::inconclusive}},
      {"jitter 2.6 beside other work",
       [](auto& in, auto&) { in.run.lat_idle_p99 = 260.0; in.run.latency_load.busy = true; },
       {HclVerdict::inconclusive}},
      {"... does not excuse failing efficiency",
       [](auto& in, auto&) { in.run.lat_idle_p99 = 260.0; in.run.peak_read = 20.0; in.run.latency_load.busy = true; },
       {HclVerdict::fail}},
      {"jitter exactly 2.5 passes", [](auto& in, auto&) { in.run.lat_idle_p99 = 250.0; },
       {HclVerdict::pass}},
      {"loaded jitter is not judged", [](auto& in, auto&) { in.run.lat_loaded_p99 = 9000.0; },
       {HclVerdict::pass}},
      {"no latency measurement",
       [](auto& in, auto&) { in.run.lat_idle_avg = in.run.lat_idle_p99 = 0; },
       {HclVerdict::pass}},
      {"one corrected EDAC error", [](auto& in, auto&) { in.edac_ce_end = 1; },
       {HclVerdict::marginal}},
      {"corrected errors without a start reading", [](auto& in, auto&) {
         in.run.edac_ce_start = -1;
         in.edac_ce_end = 7;
       },
       {HclVerdict::pass}},
      {"one uncorrected EDAC error", [](auto& in, auto&) { in.edac_ue_end = 1; },
       {HclVerdict::fail}},
      {"one critical kernel-log event", [](auto& in, auto&) { in.klog_crit_end = 1; },
       {HclVerdict::fail}},
      {"one bit error in the sweep", [](auto& in, auto&) { in.error_total = 1; },
       {HclVerdict::fail}},
      {"bit error on a busy box still fails",
       [](auto& in, auto&) {
         in.error_total = 1;
         in.run.busy = true;
       },
       {HclVerdict::fail}},
      // Errors are never excused by a shortfall that a loaded box excuses.
      {"bit error, marginal efficiency, busy",
       [](auto& in, auto&) { in.error_total = 1; in.run.peak_read = 39.95; in.run.busy = true; },
       {HclVerdict::fail}},
      {"pattern error, jitter 2.6, contended",
       [](auto& in, auto&) { in.run.pattern_errors = in.error_total = 2; in.run.lat_idle_p99 = 260.0; in.run.contended = true; },
       {HclVerdict::fail}},
      {"fade error, failing efficiency, throttled",
       [](auto& in, auto&) { in.run.fade_errors = in.error_total = 1; in.run.peak_read = 20.0; in.run.throttle_samples = 20; },
       {HclVerdict::fail}},
      {"bit error, jitter 2.6 beside other work",
       [](auto& in, auto&) { in.error_total = 1; in.run.lat_idle_p99 = 260.0; in.run.latency_load.busy = true; },
       {HclVerdict::fail}},
      {"one churn error",
       [](auto& in, auto&) {
         in.run.churn_errors = 1;
         in.error_total = 1;
       },
       {HclVerdict::fail}},
      {"one fade error",
       [](auto& in, auto&) {
         in.run.fade_errors = 1;
         in.error_total = 1;
       },
       {HclVerdict::fail}},
      {"three identical modules",
       [](auto& in, auto&) {
         in.module_count = 3;
         in.setup_uniform = 0;
         in.setup_reasons = {"3 modules populated — odd count runs flex/asymmetric"};
       },
       {HclVerdict::fail, false}},
      {"unknown setup never lowers", [](auto& in, auto&) { in.setup_uniform = -1; },
       {HclVerdict::pass}},
      {"quick tier clean",
       [](auto& in, auto& cfg) {
         cfg.hcl_tier = HclTier::quick;
         in.run.fade_errors = in.run.cooldown_errors = -1;
         in.run.fade_secs = 0;
       },
       {HclVerdict::pass, true, true}},
      {"standard tier under 30 s", [](auto& in, auto&) { in.run.duration = 29; },
       {HclVerdict::pass, true, true}},
      {"standard tier at 30 s", [](auto& in, auto&) { in.run.duration = 30; }, {HclVerdict::pass}},
      {"no DMI and no --jedec-gbs",
       [](auto& in, auto&) {
         in.module_count = -1;
         in.setup_uniform = -1;
         in.theoretical_gbs = 0;
         in.channels_src = "no DMI data";
       },
       {HclVerdict::pass_unqualified}},
      {"no reference with a corrected error",
       [](auto& in, auto&) {
         in.theoretical_gbs = 0;
         in.edac_ce_end = 1;
       },
       {HclVerdict::marginal}},
      {"stddev 5.1 is marginal", [](auto& in, auto&) { in.run.stddev_pct = 5.1; },
       {HclVerdict::marginal}},
      {"stddev 5.0 passes", [](auto& in, auto&) { in.run.stddev_pct = 5.0; }, {HclVerdict::pass}},
      {"last/first 0.969 is marginal", [](auto& in, auto&) { in.run.last_first_ratio = 0.969; },
       {HclVerdict::marginal}},
      {"last/first 0.97 passes", [](auto& in, auto&) { in.run.last_first_ratio = 0.97; },
       {HclVerdict::pass}},
      {"too few stability samples",
       [](auto& in, auto&) { in.run.stddev_pct = in.run.last_first_ratio = -1; },
       {HclVerdict::pass}},
      {"interrupted during P4",
       [](auto& in, auto&) {
         in.stopped = true;
         in.run.rounds = 0;
         in.run.fade_errors = in.run.cooldown_errors = -1;
         in.run.lat_idle_avg = 0;
       },
       {HclVerdict::inconclusive}},
      {"stop outranks a mixed kit and errors",
       [](auto& in, auto&) {
         in.stopped = true;
         in.setup_uniform = 0;
         in.error_total = 3;
       },
       {HclVerdict::inconclusive, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HclVerdictInputs in = clean_run();
    RunConfig cfg;
    cfg.mode = RunMode::HCL;
    c.edit(in, cfg);
    const HclVerdictReport r = build_hcl_verdict_report(in, cfg);
    EXPECT_STREQ(verdict_word(r.verdict), verdict_word(c.want.verdict));
    EXPECT_EQ(r.exit, verdict_exit(c.want.verdict));
    EXPECT_EQ(r.qa_eligible, c.want.qa_eligible);
    EXPECT_EQ(r.criteria.provisional, c.want.provisional);
  }
}

TEST(HclVerdict, WordsAndExitStatus) {
  struct {
    HclVerdict v;
    const char* word;
    int exit;
  } cases[] = {{HclVerdict::pass, "PASS", 0},
               {HclVerdict::pass_unqualified, "PASS-UNQUALIFIED", 0},
               {HclVerdict::marginal, "MARGINAL", 2},
               {HclVerdict::fail, "FAIL", 1},
               {HclVerdict::inconclusive, "INCONCLUSIVE", 3}};
  for (const auto& c : cases) {
    EXPECT_STREQ(verdict_word(c.v), c.word);
    EXPECT_EQ(verdict_exit(c.v), c.exit) << c.word;
  }
  EXPECT_STREQ(criterion_word(HclCriterion::marginal), "marginal");
  EXPECT_STREQ(criterion_word(HclCriterion::unknown), "unknown");
  EXPECT_STREQ(hcl_tier_word(HclTier::soak), "soak");
}

TEST(HclVerdict, FloorsAndTheirSource) {
  struct {
    const char* name;
    double pass_pct, fail_pct;
    bool given;
    double want_pass, want_fail;
  } cases[] = {
      {"defaults", 80, 60, false, 80, 60},
      {"--pass-pct 70 alone", 70, 60, true, 70, 60},
      {"--fail-pct 90 alone is clamped", 80, 90, true, 80, 80},
      {"--pass-pct 50 with --fail-pct 55", 50, 55, true, 50, 50},
      {"zero and negative mean the built-in floors", 0, -3, true, 80, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HclFloors f = hcl_floors(c.pass_pct, c.fail_pct, c.given);
    EXPECT_DOUBLE_EQ(f.pass_floor, c.want_pass);
    EXPECT_DOUBLE_EQ(f.fail_floor, c.want_fail);
    EXPECT_EQ(f.from_table, c.given);
  }
  // A platform table moves the edge: 75 % passes against --pass-pct 70.
  HclVerdictInputs in = clean_run();
  in.run.peak_read = 37.5;
  RunConfig cfg;
  EXPECT_EQ(build_hcl_verdict_report(in, cfg).verdict, HclVerdict::marginal);
  cfg.pass_pct = 70;
  cfg.pct_given = 1;
  const HclVerdictReport r = build_hcl_verdict_report(in, cfg);
  EXPECT_EQ(r.verdict, HclVerdict::pass);
  EXPECT_TRUE(r.floors.from_table);
}

TEST(HclVerdict, CriteriaCarryTheirFigures) {
  RunConfig cfg;
  {
    SCOPED_TRACE("a sweep bit error fails integrity, not patterns");
    HclVerdictInputs in = clean_run();
    in.error_total = 1;
    const HclCriteria c = build_hcl_verdict_report(in, cfg).criteria;
    EXPECT_EQ(c.patterns, HclCriterion::pass);
    EXPECT_EQ(c.zero_errors, HclCriterion::fail);
  }
  {
    SCOPED_TRACE("quick tier: bit fade unknown, skipped phases add nothing");
    HclVerdictInputs in = clean_run();
    in.run.fade_errors = in.run.cooldown_errors = -1;
    cfg.hcl_tier = HclTier::quick;
    const HclCriteria c = build_hcl_verdict_report(in, cfg).criteria;
    EXPECT_EQ(c.bit_fade, HclCriterion::unknown);
    EXPECT_EQ(c.pattern_total, 0);
    EXPECT_EQ(c.patterns, HclCriterion::pass);
    cfg.hcl_tier = HclTier::standard;
  }
  {
    SCOPED_TRACE("a cool-down error alone fails bit fade and patterns");
    HclVerdictInputs in = clean_run();
    in.run.cooldown_errors = 2;
    const HclCriteria c = build_hcl_verdict_report(in, cfg).criteria;
    EXPECT_EQ(c.bit_fade, HclCriterion::fail);
    EXPECT_EQ(c.fade_total, 2);
    EXPECT_EQ(c.pattern_total, 2);
  }
  {
    SCOPED_TRACE("fade ran, cool-down stopped");
    HclVerdictInputs in = clean_run();
    in.run.cooldown_errors = -1;
    const HclCriteria c = build_hcl_verdict_report(in, cfg).criteria;
    EXPECT_EQ(c.bit_fade, HclCriterion::pass);
    EXPECT_EQ(c.fade_total, 0);
  }
  {
    SCOPED_TRACE("figures");
    HclVerdictInputs in = clean_run();
    in.run.edac_ce_start = 4;
    in.edac_ce_end = 6;
    in.run.edac_ue_start = 1;
    in.edac_ue_end = -1;
    in.run.klog_crit_start = 3;
    in.klog_crit_end = 5;
    const HclVerdictReport r = build_hcl_verdict_report(in, cfg);
    EXPECT_DOUBLE_EQ(r.criteria.efficiency_pct, 90.0);
    EXPECT_DOUBLE_EQ(r.criteria.jitter_ratio, 1.5);
    EXPECT_EQ(r.criteria.ce_delta, 2);
    EXPECT_EQ(r.criteria.ue_delta, 0);
    EXPECT_EQ(r.criteria.klog_crit_delta, 2);
    EXPECT_EQ(r.criteria.ce_policy, HclCriterion::marginal);
  }
  {
    SCOPED_TRACE("stability word follows variance or degradation");
    HclVerdictInputs in = clean_run();
    EXPECT_EQ(build_hcl_verdict_report(in, cfg).stability, HclCriterion::pass);
    in.run.last_first_ratio = 0.9;
    EXPECT_EQ(build_hcl_verdict_report(in, cfg).stability, HclCriterion::marginal);
    in.run.last_first_ratio = -1;
    in.run.stddev_pct = 7;
    EXPECT_EQ(build_hcl_verdict_report(in, cfg).stability, HclCriterion::marginal);
  }
}

// The rules alone, over criteria set by hand: unknowns never lower the
// verdict, and a marginal efficiency on a quiet box only caps it.
TEST(HclVerdict, DecideFromCriteria) {
  HclCriteria all_unknown;
  all_unknown.patterns = all_unknown.ce_policy = all_unknown.zero_errors = HclCriterion::pass;
  EXPECT_EQ(hcl_decide(all_unknown, {}), HclVerdict::pass_unqualified);

  HclCriteria c = all_unknown;
  c.jedec_efficiency = HclCriterion::marginal;
  EXPECT_EQ(hcl_decide(c, {}), HclVerdict::marginal);
  EXPECT_EQ(hcl_decide(c, {false, false, true}), HclVerdict::inconclusive);
  c.throttled = true;
  EXPECT_EQ(hcl_decide(c, {}), HclVerdict::inconclusive);
  c.jedec_efficiency = HclCriterion::pass;
  EXPECT_EQ(hcl_decide(c, {}), HclVerdict::pass);
  c.bit_fade = HclCriterion::fail;
  EXPECT_EQ(hcl_decide(c, {false, true, true}), HclVerdict::fail);
  EXPECT_EQ(hcl_decide(c, {true, false, false}), HclVerdict::inconclusive);
}

}  // namespace
}  // namespace dravik
