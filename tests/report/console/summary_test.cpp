// The console summary and the exit status follow the fault counters, the
// addressing flag and the end reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "report/console/summary.h"
#include "report/json/json_lines.h"
#include "support/test_support.h"

namespace dravik {
namespace {

std::string summary_text(const Run& run) {
  FILE* f = tmpfile();
  print_summary(run, f);
  rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

void add_record(Run& run, FaultClass cls, const char* test) {
  FaultRecord& r = run.faults.records[static_cast<size_t>(run.faults.used++)];
  strncpy(r.test, test, sizeof r.test - 1);
  r.vaddr = 0x7f0000001000ull + 8u * static_cast<uint64_t>(run.faults.used);
  r.xor_value = 0x10;
  r.bits = 1;
  r.count = cls == FaultClass::hard ? 2 : 1;
  r.cls = cls;
  (cls == FaultClass::hard ? run.faults.hard : run.faults.transient) += 1;
}

struct Outcome {
  const char* verdict;
  int exit_code;
};

TEST(Summary, VerdictAndExitStatusTable) {
  struct Case {
    const char* name;
    int hard, transient;
    bool addressing;
    EndReason reason;
    Outcome want;
  } cases[] = {
      {"clean", 0, 0, false, EndReason::COMPLETED, {"PASS", 0}},
      {"user stop after a hard fault", 1, 0, false, EndReason::USER_STOP,
       {"SO FAR ... TEST CANCELED", 1}},
      {"user stop clean", 0, 0, false, EndReason::USER_STOP, {"SO FAR ... TEST CANCELED", 0}},
      {"hangup with transients", 0, 2, false, EndReason::HANGUP, {"SO FAR ... TEST CANCELED", 2}},
      {"stuck-addr transient", 0, 1, true, EndReason::COMPLETED, {"SUSPECT", 2}},
      {"transients only", 0, 3, false, EndReason::COMPLETED, {"PASS_WITH_TRANSIENTS", 2}},
      {"pressure abort clean", 0, 0, false, EndReason::PRESSURE_ABORT, {"PASS", 3}},
      {"strict abort with transients", 0, 1, false, EndReason::STRICT_MLOCK_ABORT,
       {"PASS_WITH_TRANSIENTS", 3}},
      {"alloc abort with a hard fault", 1, 0, false, EndReason::ALLOC_ABORT, {"FAIL", 1}},
  };
  for (const Case& c : cases) {
    auto run = testing::make_run();
    for (int i = 0; i < c.hard; ++i) add_record(*run, FaultClass::hard, "solid0");
    for (int i = 0; i < c.transient; ++i) add_record(*run, FaultClass::transient, "stuck-addr");
    run->st.address_fault_seen = c.addressing ? 1 : 0;
    force_end_reason(run->st, c.reason);
    EXPECT_STREQ(summary_verdict(*run), c.want.verdict) << c.name;
    EXPECT_EQ(run_exit_code(*run), c.want.exit_code) << c.name;
    const std::string text = summary_text(*run);
    EXPECT_NE(text.find(std::string(" Verdict        : ") + c.want.verdict + "\n"),
              std::string::npos) << c.name;
    EXPECT_NE(text.find(std::string(" End reason     : ") + end_reason_text(int32_t(c.reason))),
              std::string::npos) << c.name;
    const bool suspect_line =
        text.find(" Addressing     : SUSPECT (stuck-address test failed)\n") != std::string::npos;
    EXPECT_EQ(suspect_line, c.addressing) << c.name;
  }
}

TEST(Summary, LayoutOfACleanRun) {
  auto run = testing::make_run();
  run->cfg.mode = RunMode::OFFLINE;
  run->cfg.tier = PatternTier::quick;
  run->cfg.seed = 0xABCDEF;
  run->st.budget = 256ull << 20;
  run->st.total_bytes = 512ull << 20;
  run->st.phys_ok = 1;
  run->st.last_locked = 1;
  run->clflush_usable = 1;
  force_end_reason(run->st, EndReason::COMPLETED);
  const std::string text = summary_text(*run);
  EXPECT_EQ(text.rfind("\nDravik v0.6.0\n"
                       "========================= dravik summary =========================\n"
                       " Verdict        : PASS\n"
                       " Mode/Profile   : OFFLINE / quick\n"
                       " Tested         : 512.00MiB (target 256.00MiB)   Time: 00:00:00\n"
                       " Hard faults    : 0\n"
                       " Transient      : 0\n"
                       " Addressing     : ok\n"
                       " Phys mapping   : yes   mlock: yes   cache-flush: on\n"
                       " PRNG seed      : 0x0000000000abcdef  (re-run with --seed to reproduce)\n"
                       " End reason     : completed\n"
                       " NOTE: userspace testing",
                       0),
            0u)
      << text;
  EXPECT_EQ(text.find("ECC/EDAC"), std::string::npos) << "EDAC unavailable: no line at all";
  EXPECT_EQ(text.find("   #"), std::string::npos);
  EXPECT_NE(text.find("\n" + std::string(68, '=') + "\n\n+" + std::string(67, '-') + "+\n| "),
            std::string::npos);
}

// A module installed but not in use: an added console line and JSON key
// (null when nothing is missing or the table cannot be read).
TEST(Summary, UnusedModuleLineAndKey) {
  const std::string reason =
      "installed 16.00GiB in 2 modules, the system uses 7.50GiB: a module may not be in use";
  const struct {
    const char* table;
    uint64_t mem_total_kb;
    bool warned;
  } cases[] = {{"dmi/dell-precision-3620-ddr4.bin", 7862353, true},
               {"dmi/dell-precision-3620-ddr4.bin", 16036003, false},
               {"dmi/no-such-table.bin", 7862353, false}};
  for (const auto& c : cases) {
    auto run = testing::make_run();
    run->view.dmi_table = testing::fixture(c.table);
    run->st.mem_total = c.mem_total_kb << 10;
    force_end_reason(run->st, EndReason::COMPLETED);
    const std::string line = " Modules        : " + reason + "\n End reason     : completed\n";
    EXPECT_EQ(summary_text(*run).find(c.warned ? line : " Modules") == std::string::npos, !c.warned);
    char json[4096] = "";
    FILE* f = fmemopen(json, sizeof json - 1, "w");
    json_summary_line(f, *run);
    fclose(f);
    EXPECT_TRUE(strstr(json, c.warned ? ("\"unused_module\":\"" + reason + "\"}").c_str()
                                      : "\"unused_module\":null}")) << json;
  }
}

TEST(Summary, EdacLineFlagsGrowth) {
  auto run = testing::make_run();
  run->st.edac_ce_start = 2;
  run->st.edac_ce_end = 2;
  run->st.edac_ue_start = 0;
  run->st.edac_ue_end = 0;
  EXPECT_NE(summary_text(*run).find(" ECC/EDAC       : CE 2->2  UE 0->0\n"), std::string::npos);
  run->st.edac_ce_end = 5;
  EXPECT_NE(summary_text(*run).find(
                " ECC/EDAC       : CE 2->5  UE 0->0  <== HARDWARE ECC ERRORS DURING TEST\n"),
            std::string::npos);
  EXPECT_STREQ(summary_verdict(*run), "PASS") << "ECC growth does not change the verdict";
}

TEST(Summary, ThirtyRecordsShowTwentyFourLinesAndTheRest) {
  auto run = testing::make_run();
  for (int i = 0; i < 30; ++i) add_record(*run, i % 2 ? FaultClass::hard : FaultClass::transient,
                                          "movinv-rand");
  strcpy(run->faults.records[0].dimm, "DIMM_A1");
  const std::string text = summary_text(*run);
  size_t lines = 0;
  for (size_t at = 0; (at = text.find("\n   #", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 24u);
  EXPECT_NE(text.find("   ... and 6 more\n"), std::string::npos);
  EXPECT_NE(text.find("   #1  transient movinv-rand v=0x7f0000001008 p=0x000000000000 "
                      "xor=0x0000000000000010 bits=1 x1 DIMM_A1\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("   #2  HARD      movinv-rand"), std::string::npos);
}

}  // namespace
}  // namespace dravik
