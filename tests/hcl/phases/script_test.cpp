// The qualification script in-process over fixture files: what a run emits
// phase by phase, the stop rule (the stream phase always starts, the fade
// phases say "skip" in the quick tier), the pressure abort, the start-up
// refusal when memory is short, and every arena released at the end.
#include "hcl/phases/script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/run/flags.h"
#include "hcl/context.h"
#include "hcl/pool/runner.h"
#include "hcl/output.h"
#include "hcl/phases/phases.h"
#include "hcl/verdict/verdict.h"
#include "support/run_setup.h"
#include "support/meminfo_fixture.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// Keeps the events a run reports as short words ("phase P4 run",
// "point sweep read 1") and lets a test act when a phase starts.
class RecordingOutput final : public HclOutput {
 public:
  std::vector<std::string> events;
  std::string text_seen;
  HclVerdict verdict_seen = HclVerdict::pass;
  int verdict_exit = -1;
  uint64_t abort_available = 0, abort_floor = 0;
  std::function<void(const std::string& id, const std::string& status)> on_phase;

  void text(const char* s) override { text_seen += s; }
  void status(const char* s) override { events.push_back(std::string("status ") + s); }
  void info(const HclInfo& info, const MemoryInventory&, const JedecReference&) override {
    events.push_back("info " + std::to_string(info.threads) + " " + std::to_string(info.arena_per_thread));
  }
  void setup(const SetupAssessment&, double, double, bool, int) override { events.push_back("setup"); }
  void phase(const char* id, const char*, const char* status, double) override {
    events.push_back(std::string("phase ") + id + " " + status);
    if (on_phase) on_phase(id, status);
  }
  void stage(const char* phase, int) override { events.push_back(std::string("stage ") + phase); }
  void point(const char* phase, const char* op, int threads, double) override {
    events.push_back(std::string("point ") + phase + " " + op + " " + std::to_string(threads));
  }
  void latency_point(const char* op, int, double, double) override {
    events.push_back(std::string("latency ") + op);
  }
  void oltp_point(int, double, bool ok) override { events.push_back(ok ? "oltp ok" : "oltp mismatch"); }
  void realism_point(const char* op, int, double) override { events.push_back(std::string("realism ") + op); }
  bool wants_map() const override { return false; }
  void map(const HclMapFrame&) override {}
  void bit_error(const HclErrorRecord&, int) override { events.push_back("bit_error"); }
  void abort(uint64_t available, uint64_t floor, double) override {
    events.push_back("abort");
    abort_available = available;
    abort_floor = floor;
  }
  void verdict(const HclVerdictReport& report) override {
    events.push_back("verdict");
    verdict_seen = report.verdict;
    verdict_exit = report.exit;
  }

  // The phase events only, in order.
  std::vector<std::string> phases() const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.rfind("phase ", 0) == 0) out.push_back(e.substr(6));
    return out;
  }
  int count(const std::string& event) const {
    int n = 0;
    for (const auto& e : events) n += e == event;
    return n;
  }
};

// A qualification over fixture files: 16 MiB of arenas (one worker), quiet
// load, no DMI, EDAC, PSI or cpufreq.
struct FixtureRun {
  testing::TempDir dir;
  testing::MeminfoFixture meminfo{4096, 8192};
  RecordingOutput out;
  RunConfig cfg;

  FixtureRun(HclTier tier) {
    cfg.mode = RunMode::HCL;
    cfg.hcl_tier = tier;
    cfg.hcl_duration_s = 10;
    cfg.mem_cap = 16ull << 20;
    cfg.seed = 0x5EED;
    dir.write("loadavg", "0.10 0.10 0.10 1/100 1\n");
  }
  int run() {
    HclContext ctx(cfg, out);
    configure(ctx);
    return run_qualification(ctx);
  }
  void configure(HclContext& ctx) {
    ctx.paths.meminfo = meminfo.path();
    ctx.paths.loadavg = dir.sub("loadavg");
    ctx.paths.psi_memory = dir.sub("none");
    ctx.paths.cpufreq_dir = dir.sub("none");
    ctx.paths.edac_mc = dir.sub("none");
    ctx.paths.node_dir = dir.sub("none");
    ctx.paths.dmi_table = dir.sub("none");
    ctx.mem_total = 8192ull << 20;
  }
};

// kB of one /proc/self/status field.
long self_status_kb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(f, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

using HclScript = testing::FlagsReset;
using HclScriptThreads = testing::FlagsReset;

TEST_F(HclScript, TooLittleFreeMemoryStartsNothing) {
  FixtureRun r(HclTier::quick);
  r.meminfo.set_available_mib(775);  // 7 MiB above the 512 MiB floor and the 256 MiB reserve
  EXPECT_EQ(r.run(), 3);
  EXPECT_EQ(r.out.events, std::vector<std::string>{"status hcl: not enough free memory"});
}

TEST_F(HclScriptThreads, StopDuringTheStreamPhaseKeepsOnePointAndReleasesEveryArena) {
  struct Case {
    HclTier tier;
    std::vector<std::string> tail;  // phase events after P4
  } cases[] = {
      {HclTier::quick, {"P7 skip", "P8 skip"}},
      {HclTier::standard, {}},
  };
  for (const auto& c : cases) {
    reset_process_flags();
    FixtureRun r(c.tier);
    r.out.on_phase = [](const std::string& id, const std::string& status) {
      if (id == "P4" && status == "run") stop_requested.store(1);
    };
    const long locked_before = self_status_kb("VmLck");
    const long rss_before = self_status_kb("VmRSS");
    EXPECT_EQ(r.run(), 3);

    std::vector<std::string> want = {"P0 run", "P0 done", "P1 run", "P1 done", "P2 run", "P2 done",
                                     "P3 run", "P3 done", "P4 run", "P4 done"};
    want.insert(want.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(r.out.phases(), want);
    EXPECT_EQ(r.out.events[0], "info 1 16777216") << "16 MiB: one worker";
    EXPECT_EQ(r.out.count("stage sweep"), 1);
    EXPECT_EQ(r.out.count("point sweep write 1"), 1) << "one sweep point";
    EXPECT_EQ(r.out.count("point sweep read 1"), 1);
    EXPECT_EQ(r.out.count("stage saturate"), 0);
    EXPECT_EQ(r.out.count("stage latency"), 0);
    EXPECT_EQ(r.out.events.back(), "verdict");
    EXPECT_EQ(r.out.verdict_seen, HclVerdict::inconclusive);
    EXPECT_EQ(r.out.verdict_exit, 3);
    EXPECT_NE(r.out.text_seen.find(" [P3] copy/invert churn: clean\n"), std::string::npos);
    EXPECT_NE(r.out.text_seen.find("\n [sweep] core-scaling, 1 point\n"), std::string::npos);

    EXPECT_EQ(self_status_kb("VmLck"), locked_before) << "every arena unlocked";
    EXPECT_LT(self_status_kb("VmRSS"), rss_before + 8 * 1024) << "the 16 MiB arena is unmapped";
  }
}

// A stop before the bit-fade re-verify leaves nothing verified: the phase
// says "skipped" and counts as not run, never "done" and clean.
TEST_F(HclScript, FadeStoppedBeforeItsReverifySaysItDidNotRun) {
  FixtureRun r(HclTier::standard);
  r.out.on_phase = [](const std::string& id, const std::string& status) {
    if (id == "P7" && status == "run") stop_requested.store(1);
  };
  HclContext ctx(r.cfg, r.out);
  r.configure(ctx);
  auto job = std::make_unique<HclJob>();
  HclRunner runner(*job, r.out);
  HclSession s(ctx, *job, runner);
  ASSERT_TRUE(hcl_startup(s));
  phase_fade_and_cooldown(s);
  hcl_pool_shutdown(runner);
  EXPECT_EQ(r.out.phases(), (std::vector<std::string>{"P7 run", "P7 skipped"}));
  EXPECT_EQ(s.run.fade_errors, -1);
  EXPECT_EQ(s.run.cooldown_errors, -1);
  EXPECT_EQ(s.run.fade_secs, 0);
  EXPECT_NE(r.out.text_seen.find("  bit fade: not run\n"), std::string::npos) << r.out.text_seen;
}

TEST_F(HclScriptThreads, MemoryFallingBelowTheFloorAbortsInconclusive) {
  FixtureRun r(HclTier::quick);
  r.out.on_phase = [&r](const std::string& id, const std::string& status) {
    if (id == "P3" && status == "run") r.meminfo.set_available_mib(100);
  };
  EXPECT_EQ(r.run(), 3);
  EXPECT_EQ(r.out.count("abort"), 1);
  EXPECT_EQ(r.out.abort_available, 100ull << 20);
  EXPECT_EQ(r.out.abort_floor, 512ull << 20);
  EXPECT_TRUE(stopping());
  const std::vector<std::string> want = {"P0 run", "P0 done", "P1 run", "P1 done", "P2 run",
                                         "P2 done", "P3 run",  "P3 done", "P4 run",  "P4 done",
                                         "P7 skip", "P8 skip"};
  EXPECT_EQ(r.out.phases(), want);
  EXPECT_EQ(r.out.verdict_seen, HclVerdict::inconclusive);
}

}  // namespace
}  // namespace dravik
