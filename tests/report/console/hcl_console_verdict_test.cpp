// The boxed console report of a qualification run, line by line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/console/hcl_console_output.h"
#include "report/hcl_verdict_samples.h"

// The vector kind the reports name: each processor's own.
#if defined(__aarch64__)
#define SIMD_KIND "neon-nt"
#else
#define SIMD_KIND "sse2-nt"
#endif

namespace dravik {
namespace {

using testing::captured;

std::vector<std::string> report_lines(const HclVerdictReport& r) {
  const std::string text = captured([&](FILE* f) { ConsoleHclOutput(f).verdict(r); });
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  EXPECT_EQ(start, text.size()) << "the report ends with a newline";
  return lines;
}

void expect_lines(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  for (size_t i = 0; i < want.size() && i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i;
  EXPECT_EQ(got.size(), want.size());
}

TEST(HclConsoleVerdict, CleanStandardRun) {
  expect_lines(report_lines(testing::clean_pass_report()),
               {
                   "",
                   "============================ HCL verdict ============================",
                   " VERDICT   : PASS",
                   " setup     : pass — matched kit, 2 modules",
                   " patterns  : pass — addr 0, moving-inversion 0, churn 0, realism 0 errors",
                   " bit fade  : pass — 60s idle + cool-down, 0 errors",
                   " stability : pass — 0.8% round stddev (limit 5%); last/first quartile x0.996",
                   " bandwidth : pass — 44.03 GB/s sustained read = 86.0% of 51.20 GB/s JEDEC "
                   "(pass>=80%, fail<60%, floors from built-in default)",
                   " jitter    : pass — p99 131.7 ns = x1.43 of avg 92.4 ns (limit x2.50)",
                   " integrity : pass — 0 bit errors, EDAC CE+0 UE+0, kernel crit +0, oltp ledger ok",
                   " evidence  : 2 threads pinned (ok), " SIMD_KIND " streams, 22 saturation rounds, "
                   "seed 0x00006b17bcb29a18",
                   "=====================================================================",
               });
}

TEST(HclConsoleVerdict, MixedKitOnAContendedBox) {
  expect_lines(
      report_lines(testing::mixed_contended_report()),
      {
          "",
          "============================ HCL verdict ============================",
          " VERDICT   : FAIL (provisional — quick tier)  [SETUP NOT ELIGIBLE FOR QA]",
          " setup     : FAIL — mixed/asymmetric memory set:",
          "             - DIMM_B1 differs: Kingston KHX3200C16D4/8GX vs Corsair CMK16GX4M2B3200C16",
          "             - 3 modules populated — odd count runs flex/asymmetric",
          "             not recorded, not submittable; rerun with a matched kit",
          " patterns  : fail — addr 0, moving-inversion 0, churn 0, realism 1 error",
          " stability : marginal — 6.2% round stddev (limit 5%); last/first quartile x0.950 — CPU "
          "THROTTLED",
          " bandwidth : marginal — 33.90 GB/s sustained read = 66.2% of 51.20 GB/s JEDEC "
          "(pass>=70%, fail<60%, floors from platform table)",
          " jitter    : pass — p99 131.7 ns = x1.43 of avg 92.4 ns (limit x2.50)",
          " integrity : fail — 2 bit errors, EDAC CE+1 UE+0, kernel crit +0, oltp ledger MISMATCH "
          "— CE>0 caps the verdict at MARGINAL",
          " evidence  : 2 threads pinned (ok), " SIMD_KIND " streams, 8 saturation rounds, seed "
          "0x00006b17bcb29a18",
          " caveat    : CONTENDED SYSTEM — <40% of RAM was free; services share the",
          "             memory bus. A bandwidth shortfall here indicts the system",
          "             state, not necessarily the DIMMs — re-run quiesced.",
          "=====================================================================",
      });
}

TEST(HclConsoleVerdict, StoppedRunWithoutDmiStillPrintsTheWholeReport) {
  expect_lines(report_lines(testing::stopped_no_dmi_report()),
               {
                   "",
                   "============================ HCL verdict ============================",
                   " VERDICT   : INCONCLUSIVE",
                   " setup     : unknown — DMI silent (VM?); uniformity gate not applied",
                   " patterns  : pass — addr 0, moving-inversion 0, churn 0, realism 0 errors",
                   " bandwidth : UNKNOWN — 5.25 GB/s sustained read; no JEDEC reference (no DMI; "
                   "use --jedec-gbs)",
                   " integrity : pass — 0 bit errors, EDAC CE+0 UE+0, kernel crit +0, oltp "
                   "ledger n/a",
                   " evidence  : 1 threads pinned (AFFINITY FAILED), " SIMD_KIND " streams, 0 saturation "
                   "rounds, seed 0x0000000000000001",
                   "=====================================================================",
               });
}

// Lines that change with a count of one, and the lines that come and go.
TEST(HclConsoleVerdict, SingularsAndOptionalLines) {
  struct Case {
    const char* name;
    void (*edit)(HclVerdictInputs&);
    const char* line;  // the expected line, or the prefix that must be absent
    bool present;
  } cases[] = {
      {"one module", [](HclVerdictInputs& in) { in.module_count = 1; },
       " setup     : pass — matched kit, 1 module", true},
      {"one fade error", [](HclVerdictInputs& in) { in.run.fade_errors = 1; },
       " bit fade  : fail — 60s idle + cool-down, 1 error", true},
      {"fade ran, cool-down stopped",
       [](HclVerdictInputs& in) {
         in.run.fade_errors = 2;
         in.run.cooldown_errors = -1;
       },
       " bit fade  : fail — 60s idle + cool-down, 2 errors", true},
      {"one bit error", [](HclVerdictInputs& in) { in.error_total = 1; },
       " integrity : fail — 1 bit error, EDAC CE+0 UE+0, kernel crit +0, oltp ledger ok", true},
      {"one address error: the plural follows the realism count",
       [](HclVerdictInputs& in) { in.run.addr_errors = 1; },
       " patterns  : fail — addr 1, moving-inversion 0, churn 0, realism 0 errors", true},
      {"jitter over the limit", [](HclVerdictInputs& in) { in.run.lat_idle_p99 = 240.3; },
       " jitter    : fail — p99 240.3 ns = x2.60 of avg 92.4 ns (limit x2.50)", true},
      {"fade skipped", [](HclVerdictInputs& in) { in.run.fade_errors = in.run.cooldown_errors = -1; },
       " bit fade", false},
      {"too few stability samples", [](HclVerdictInputs& in) { in.run.stddev_pct = -1; },
       " stability", false},
      {"no latency", [](HclVerdictInputs& in) { in.run.lat_idle_avg = 0; }, " jitter", false},
      {"not contended", [](HclVerdictInputs&) {}, " caveat", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HclVerdictInputs in = testing::clean_pass_report().figures;
    c.edit(in);
    const std::vector<std::string> lines = report_lines(build_hcl_verdict_report(in, RunConfig{}));
    bool found = false;
    for (const std::string& l : lines) {
      found = found || (c.present ? l == c.line : l.rfind(c.line, 0) == 0);
    }
    EXPECT_EQ(found, c.present) << c.line;
  }
}

}  // namespace
}  // namespace dravik
