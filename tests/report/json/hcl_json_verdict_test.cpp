// The hcl_verdict line: byte for byte, valid JSON for every report, and
// readable values where the figures are not.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "report/hcl_verdict_samples.h"
#include "report/json/hcl_json_output.h"
#include "report/json/json_capture.h"

namespace dravik {
namespace {

using testing::captured;
using testing::ojson;

std::string verdict_line(const HclVerdictReport& r) {
  return captured([&](FILE* f) { JsonHclOutput(f).verdict(r); });
}

TEST(HclJsonVerdict, MixedContendedLineByteForByte) {
  const std::string want =
      R"({"event":"hcl_verdict","verdict":"FAIL","exit":1,"qa_eligible":false,"provisional":true,)"
      R"("tier":"quick","setup":{"uniform":false,"reasons":["DIMM_B1 differs: Kingston )"
      R"(KHX3200C16D4/8GX vs Corsair CMK16GX4M2B3200C16","3 modules populated — odd count runs )"
      R"(flex/asymmetric"]},"coverage":{"arena_bytes":67108864,"total_bytes":8589934592,"total_src":"meminfo"},)"
      R"("env":{"busy":false,"throttled":true,"load1":3.50,"psi_mem10":1.25,"latency_busy":false,)"
      R"("latency_others_pct":-1.0,"latency_psi_mem10":-1.00},"criteria":[)"
      R"({"name":"setup","status":"fail"},{"name":"jedec_efficiency","status":"marginal",)"
      R"("measured_gbs":33.90,"theoretical_gbs":51.20,"efficiency_pct":66.2,"pass_pct":70,)"
      R"("fail_pct":60,"floor_src":"table","channels_src":"from DMI channel locators and data )"
      R"(widths"},{"name":"latency_jitter","status":"pass","avg_ns":92.40,"p99_ns":131.70,)"
      R"("ratio":1.43,"limit":2.5,"loaded_avg_ns":140.25,"loaded_p99_ns":388.50},)"
      R"({"name":"patterns","status":"fail","addr_errors":0,"pattern_errors":0,"churn_errors":0,)"
      R"("realism_errors":1},{"name":"bit_fade","status":"unknown","fade_secs":0,"fade_errors":0,)"
      R"("cooldown_errors":0},{"name":"variance","status":"marginal","stddev_pct":6.20,)"
      R"("limit_pct":5},{"name":"degradation","status":"marginal","last_first_ratio":0.950,)"
      R"("floor":0.97},{"name":"ce_policy","status":"marginal","edac_ce":1},)"
      R"({"name":"zero_errors","status":"fail","bit_errors":2,"edac_ce":1,"edac_ue":0,)"
      R"("edac_ce_saturation":1,"klog_crit":0,"oltp_ledger":"mismatch"}],"peak":{"read_gbs":33.90,)"
      R"("write_gbs":31.20,"saturation_threads":2,"oltp_mops":12.75,"scaling":[{"threads":1,)"
      R"("read_gbs":14.25,"write_gbs":11.50},{"threads":2,"read_gbs":27.50,"write_gbs":20.50}],)"
      R"("saturate":{"rounds":8,"errors":0,"seconds":60}},"contended":true,"contended_note":"less )"
      R"(than 40% of RAM was free at start — services share the memory bus; a bandwidth shortfall )"
      R"(here indicts the system state, not necessarily the DIMMs. Re-run quiesced (or after )"
      R"(Vorlay frees the ARC) before condemning hardware."})"
      "\n";
  const std::string got = verdict_line(testing::mixed_contended_report());
  EXPECT_EQ(got, want);
  const ojson j = ojson::parse(got);
  EXPECT_EQ(j["setup"]["reasons"].size(), 2u);
  EXPECT_EQ(j["peak"]["saturate"]["rounds"], 8);
}

TEST(HclJsonVerdict, EveryReportIsOneCompactParsableLine) {
  const HclVerdictReport reports[] = {testing::clean_pass_report(),
                                      testing::mixed_contended_report(),
                                      testing::stopped_no_dmi_report()};
  const char* want_verdict[] = {"PASS", "FAIL", "INCONCLUSIVE"};
  const char* want_uniform[] = {"true", "false", "null"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(want_verdict[i]);
    const std::string line = verdict_line(reports[i]);
    ASSERT_EQ(line.find('\n'), line.size() - 1);
    ASSERT_TRUE(testing::compact_outside_strings(line.substr(0, line.size() - 1)));
    const ojson j = ojson::parse(line);
    std::vector<std::string> keys = {"event",    "verdict", "exit", "qa_eligible",
                                     "provisional", "tier",   "setup", "coverage",
                                     "env",      "criteria", "peak", "contended"};
    if (reports[i].figures.run.contended) keys.push_back("contended_note");
    EXPECT_EQ(testing::keys_of(j), keys) << line;
    EXPECT_EQ(j["verdict"], want_verdict[i]);
    EXPECT_EQ(j["exit"], reports[i].exit);
    EXPECT_EQ(j["setup"]["uniform"].dump(), want_uniform[i]);
    std::vector<std::string> names;
    for (const auto& c : j["criteria"]) names.push_back(c["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"setup", "jedec_efficiency", "latency_jitter",
                                               "patterns", "bit_fade", "variance", "degradation",
                                               "ce_policy", "zero_errors"}));
  }
  const ojson stopped = ojson::parse(verdict_line(testing::stopped_no_dmi_report()));
  EXPECT_EQ(stopped["criteria"][1]["status"], "unknown");
  EXPECT_EQ(stopped["criteria"][1]["floor_src"], "default");
  EXPECT_EQ(stopped["criteria"][1]["channels_src"], "no DMI data");
  EXPECT_EQ(stopped["criteria"][5]["stddev_pct"], 0.0);          // -1 reads as 0
  EXPECT_EQ(stopped["criteria"][6]["last_first_ratio"], 0.0);
  EXPECT_EQ(stopped["criteria"][8]["oltp_ledger"], "n/a");
  EXPECT_EQ(stopped["peak"]["scaling"].size(), 1u);
}

// Reasons are escaped; figures printf would write as nan or inf read as 0.
TEST(HclJsonVerdict, HostileTextAndFiguresStayValid) {
  HclVerdictInputs in = testing::mixed_contended_report().figures;
  in.setup_reasons = {"\"DIMM\\A\" differs:\nodd"};
  in.run.peak_read = std::nan("");
  in.run.lat_idle_p99 = INFINITY;
  in.run.stddev_pct = NAN;
  RunConfig cfg;
  cfg.pass_pct = INFINITY;
  cfg.pct_given = 1;
  const std::string line = verdict_line(build_hcl_verdict_report(in, cfg));
  ojson j;
  ASSERT_NO_THROW(j = ojson::parse(line)) << line;
  EXPECT_EQ(j["setup"]["reasons"][0], "\"DIMM\\A\" differs:\nodd");
  EXPECT_EQ(j["criteria"][1]["measured_gbs"], 0.0);
  EXPECT_EQ(j["criteria"][2]["p99_ns"], 0.0);
}

}  // namespace
}  // namespace dravik
