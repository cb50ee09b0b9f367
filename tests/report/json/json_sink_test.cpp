#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/run/flags.h"
#include "core/text.h"
#include "klog/klog.h"
#include "core/run/event_sink.h"
#include "report/json/json_capture.h"
#include "report/json/json_sink.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::check_line_format;
using testing::JsonCapture;
using testing::make_run;
using testing::ojson;

void make_map(Run& run, int32_t cols, int32_t rows) {
  run.map.cols = cols;
  run.map.rows = rows;
  run.map.cells = cols * rows;
  run.map.cell = std::make_unique<std::atomic<uint8_t>[]>(static_cast<size_t>(cols * rows) + 1);
  for (int32_t i = 0; i < run.map.cells; ++i) run.map.put(i, 1);
  run.map.logical = 1;
  run.map.base = 0;
  run.map.span = 1 << 20;
  run.map.bytes_per_cell = run.map.cells ? run.map.span / static_cast<uint64_t>(run.map.cells) : 1;
}

// A run with every field the lines read set to something recognisable.
std::unique_ptr<Run> sample_run() {
  auto run = make_run();
  run->sink = json_sink(*run);
  run->st.mem_total = 8ull << 30;
  run->st.untested = 1ull << 30;
  run->st.budget = 1000;
  run->st.pass_bytes = 250;
  run->st.total_bytes = 5000;
  run->st.current_pass = 2;
  run->st.total_passes = 3;
  run->st.algo_name = "movinv-rand";
  run->st.algo_pct = 40;
  run->st.regions_in_pass = 4;
  run->st.active_lo = 3;
  run->st.active_hi = 7;
  run->st.cache_sizes[0] = 32768;
  run->st.cache_sizes[1] = 1 << 20;
  run->st.cache_sizes[2] = 32 << 20;
  snprintf(run->st.status_line, sizeof run->st.status_line, "status text");
  make_map(*run, 4, 3);
  run->json.last_map_line = now_seconds();  // the set-up map was just sent
  return run;
}

FaultRecord sample_fault() {
  FaultRecord r;
  snprintf(r.test, sizeof r.test, "solid0");
  r.pass = 1;
  r.vaddr = 0x7f00dead0008;
  r.paddr = 0;
  r.region = -1;
  r.expected = 0xff;
  r.actual = 0xfe;
  r.xor_value = 0x1;
  r.bits = 1;
  r.cls = FaultClass::hard;
  r.count = 2;
  r.ts = 1.25;
  return r;
}

KlogEntry sample_klog() {
  KlogEntry e;
  e.level = 2;
  snprintf(e.tag, sizeof e.tag, "mce");
  snprintf(e.text, sizeof e.text, "mce: [Hardware Error]: x");
  e.kts = 12.5;
  e.count = 1;
  return e;
}

BenchPoint sample_bench_point() {
  BenchPoint p;
  p.size = 4096;
  snprintf(p.op, sizeof p.op, "read");
  p.value = 12.3456;
  return p;
}

const char* event_name(EventKind kind) {
  static const char* const names[] = {"start",    "map",         "phase",         "progress",
                                      "cell",     "fault",       "pressure",      "bench_point",
                                      "bench_summary", "summary", "log",          "klog"};
  return names[static_cast<int>(kind)];
}

constexpr EventKind kAllKinds[] = {
    EventKind::start,    EventKind::map,         EventKind::phase,         EventKind::progress,
    EventKind::cell,     EventKind::fault,       EventKind::pressure,      EventKind::bench_point,
    EventKind::bench_summary, EventKind::summary, EventKind::log,          EventKind::klog};

// Emits one event of the kind with a sample payload.
void emit_sample(Run& run, EventKind kind) {
  const FaultRecord fault = sample_fault();
  const KlogEntry entry = sample_klog();
  PressureRecord pressure;
  pressure.action = "pause";
  pressure.mem_available = 123;
  pressure.threshold = 456;
  pressure.pause_no = 1;
  pressure.max_pauses = 3;
  pressure.wait_s = 2.0;
  const BenchPoint point = sample_bench_point();
  const void* payload = nullptr;
  if (kind == EventKind::bench_point) payload = &point;
  if (kind == EventKind::fault) payload = &fault;
  if (kind == EventKind::klog) payload = &entry;
  if (kind == EventKind::pressure) payload = &pressure;
  emit_event(run.sink, kind, payload);
}

TEST(JsonLines, EveryKindWritesOneCompactLineWithItsKeysInOrder) {
  for (EventKind kind : kAllKinds) {
    SCOPED_TRACE(event_name(kind));
    auto run = sample_run();
    JsonCapture capture;
    emit_sample(*run, kind);
    const std::string all = capture.text();
    ASSERT_FALSE(all.empty());
    ASSERT_EQ(all.back(), '\n');
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(ojson::parse(lines[0])["event"], event_name(kind));
    EXPECT_EQ(check_line_format(lines[0]), "") << lines[0];
  }
}

TEST(JsonLines, KindsWithoutTheirPayloadWriteNothing) {
  auto run = sample_run();
  JsonCapture capture;
  for (EventKind kind : {EventKind::fault, EventKind::pressure, EventKind::klog}) {
    emit_event(run->sink, kind, nullptr);
  }
  EXPECT_EQ(capture.text(), "");
}

TEST(JsonLines, WorkerThreadsEmitNothing) {
  auto run = sample_run();
  JsonCapture capture;
  {
    testing::AsWorker worker;
    emit_sample(*run, EventKind::progress);
    post_status(run->sink, run->st, "from a worker");
  }
  EXPECT_EQ(capture.text(), "");
}

TEST(JsonStart, ReportsIdentityModeAndProbes) {
  const struct {
    RunMode mode;
    PatternTier tier;
    const char* mode_word;
    const char* profile;
  } cases[] = {{RunMode::PRODUCTION, PatternTier::standard, "PRODUCTION", "standard"},
               {RunMode::OFFLINE, PatternTier::quick, "OFFLINE", "quick"},
               {RunMode::BENCH, PatternTier::thorough, "BENCH", "thorough"},
               {RunMode::HCL, PatternTier::quick, "HCL", "quick"}};
  for (const auto& c : cases) {
    auto run = sample_run();
    run->cfg.mode = c.mode;
    run->cfg.tier = c.tier;
    run->cfg.seed = 0xabc;
    run->st.phys_ok = 1;
    run->st.edac_ce_start = -1;
    run->st.edac_ue_start = 7;
    run->clflush_usable = 1;
    snprintf(run->klog.source, sizeof run->klog.source, "dmesg");
    run->klog.available = 1;
    JsonCapture capture;
    emit_event(run->sink, EventKind::start);
    const std::string line = capture.lines().at(0);
    const ojson j = ojson::parse(line);
    EXPECT_EQ(j["version"], "0.6.0");
    EXPECT_EQ(j["name"], "Dravik");
    EXPECT_FALSE(j["contact"].get<std::string>().empty());
    EXPECT_FALSE(j["forum"].get<std::string>().empty());
    EXPECT_EQ(j["mode"], c.mode_word);
    EXPECT_EQ(j["profile"], c.profile);
    EXPECT_EQ(j["mem_total"], 8ull << 30);
    EXPECT_EQ(j["reserved"], 1ull << 30);
    EXPECT_EQ(j["phys"], true);
    EXPECT_EQ(j["root"], false);
    EXPECT_EQ(j["seed"], "0x0000000000000abc");
    EXPECT_EQ(j["flush"], true);
    EXPECT_EQ(j["cache"]["l3"], 32u << 20);
    EXPECT_EQ(j["klog"]["available"], true);
    EXPECT_EQ(j["klog"]["source"], "dmesg");
    EXPECT_EQ(j["cell_legend"], ojson::parse(R"(["reserved","untested","active","ok1","ok2","ok3","ok4","fault","suspect","system"])"));
    EXPECT_EQ(j["edac_before"]["ce"], -1);
    EXPECT_EQ(j["edac_before"]["ue"], 7);
  }
}

TEST(JsonLog, StatusTextIsEscapedAndBounded) {
  auto run = sample_run();
  JsonCapture capture;
  post_status(run->sink, run->st, "say \"hi\"\\ there\nnext\tTAB\rCR");
  post_status(run->sink, run->st, "%s", std::string(300, 'a').c_str());
  memset(run->st.status_line, '"', 191);
  run->st.status_line[191] = '\0';
  emit_event(run->sink, EventKind::log);
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);

  EXPECT_NE(lines[0].find(R"("msg":"say \"hi\"\\ there\nnextTABCR")"), std::string::npos) << lines[0];
  EXPECT_EQ(ojson::parse(lines[0])["msg"], "say \"hi\"\\ there\nnextTABCR");
  EXPECT_EQ(ojson::parse(lines[1])["msg"], std::string(191, 'a'));
  // 191 quotes escape to 382 bytes: the field is cut between two escapes.
  const std::string prefix = R"({"event":"log","msg":")";
  const size_t end = lines[2].find(R"(","ts":)");
  ASSERT_NE(end, std::string::npos);
  EXPECT_LE(end - prefix.size(), 255u);
  const std::string msg = ojson::parse(lines[2])["msg"];
  EXPECT_GT(msg.size(), 100u);
  EXPECT_EQ(msg, std::string(msg.size(), '"'));
}

TEST(JsonMap, CellStatesAreOneDigitPerCell) {
  auto run = sample_run();
  JsonCapture capture;
  make_map(*run, 0, 0);
  emit_event(run->sink, EventKind::map);
  make_map(*run, 12, 1);
  for (int32_t i = 0; i < 10; ++i) run->map.put(i, static_cast<uint8_t>(i));
  run->map.put(10, 44);   // '0' + 44 would be a backslash
  run->map.put(11, 200);  // and this no digit at all
  run->map.logical = 0;
  run->map.base = 0x100000;
  emit_event(run->sink, EventKind::map);
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  const ojson empty = ojson::parse(lines[0]);
  EXPECT_EQ(empty["cells"], 0);
  EXPECT_EQ(empty["cell_states"], "");
  const ojson full = ojson::parse(lines[1]);
  EXPECT_EQ(full["cell_states"], "012345678911");
  EXPECT_EQ(full["logical"], false);
  EXPECT_EQ(full["base"], 0x100000);
  EXPECT_EQ(full["cols"], 12);
}

TEST(JsonFault, CellFollowsPhysicalAddressOrPassProgress) {
  const struct {
    uint64_t paddr;
    int32_t cells;
    uint64_t pass_bytes;
    uint64_t budget;
    int want;
  } cases[] = {
      {0, 600, 500, 1000, 300},   // half the pass
      {0, 600, 1000, 1000, 599},  // the whole pass: the last cell, not one past it
      {0, 600, 2000, 1000, 599},  // over the budget is capped
      {0, 600, 0, 1000, 0},
      {0, 600, 500, 0, 0},        // no budget
      {0, 0, 500, 1000, -1},      // no map
      {0x100000 + 17 * 4096 + 5, 600, 0, 1000, 17},
      {0x100000 + 600 * 4096, 600, 0, 1000, -1},  // beyond the map
      {0x1000, 600, 0, 1000, -1},                 // below it
  };
  for (const auto& c : cases) {
    auto run = sample_run();
    make_map(*run, c.cells, c.cells ? 1 : 0);
    run->map.logical = 0;
    run->map.base = 0x100000;
    run->map.span = 600 * 4096;
    run->st.pass_bytes = c.pass_bytes;
    run->st.budget = c.budget;
    FaultRecord r = sample_fault();
    r.paddr = c.paddr;
    JsonCapture capture;
    emit_event(run->sink, EventKind::fault, &r);
    const ojson j = ojson::parse(capture.lines().at(0));
    EXPECT_EQ(j["cell"], c.want) << c.paddr << " " << c.pass_bytes << "/" << c.budget;
  }
}

TEST(JsonFault, AddressesAndValuesAreHex) {
  auto run = sample_run();
  FaultRecord r = sample_fault();
  r.paddr = 0xabc000;
  r.region = 2;
  snprintf(r.dimm, sizeof r.dimm, "CPU0 \"DIMM\" A1");
  JsonCapture capture;
  emit_event(run->sink, EventKind::fault, &r);
  r.cls = FaultClass::transient;
  r.expected = 0xffffffffffffffffull;
  emit_event(run->sink, EventKind::fault, &r);
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  const ojson hard = ojson::parse(lines[0]);
  EXPECT_EQ(hard["vaddr"], "0x7f00dead0008");
  EXPECT_EQ(hard["paddr"], "0xabc000");
  EXPECT_EQ(hard["region"], 2);
  EXPECT_EQ(hard["dimm"], "CPU0 \"DIMM\" A1");
  EXPECT_EQ(hard["expected"], "0x00000000000000ff");
  EXPECT_EQ(hard["actual"], "0x00000000000000fe");
  EXPECT_EQ(hard["xor"], "0x0000000000000001");
  EXPECT_EQ(hard["class"], "hard");
  EXPECT_EQ(hard["test"], "solid0");
  EXPECT_EQ(hard["count"], 2);
  const ojson transient = ojson::parse(lines[1]);
  EXPECT_EQ(transient["class"], "transient");
  EXPECT_EQ(transient["expected"], "0xffffffffffffffff");
}

TEST(JsonSummary, VerdictFollowsFaultsAndAddressing) {
  const struct {
    int64_t hard, transient;
    bool suspect;
    const char* verdict;
  } cases[] = {
      {0, 0, false, "PASS"},
      {0, 2, false, "PASS_WITH_TRANSIENTS"},
      {0, 2, true, "SUSPECT"},
      {0, 0, true, "SUSPECT"},
      {1, 0, false, "FAIL"},
      {3, 5, true, "FAIL"},
  };
  for (const auto& c : cases) {
    auto run = sample_run();
    run->faults.shown_hard = c.hard;
    run->faults.shown_transient = c.transient;
    run->st.address_fault_seen = c.suspect;
    JsonCapture capture;
    emit_event(run->sink, EventKind::summary);
    const ojson j = ojson::parse(capture.lines().at(0));
    EXPECT_EQ(j["verdict"], c.verdict);
    EXPECT_EQ(j["hard"], c.hard);
    EXPECT_EQ(j["transient"], c.transient);
    EXPECT_EQ(j["addressing_suspect"], c.suspect);
  }
}

TEST(JsonSummary, EdacDeltaIsUnknownWhenEitherReadingIs) {
  const struct {
    int64_t before, after, delta;
  } cases[] = {{-1, 5, -1}, {3, -1, -1}, {3, 5, 2}, {0, 0, 0}};
  for (const auto& c : cases) {
    auto run = sample_run();
    run->st.edac_ce_start = c.before;
    run->st.edac_ce_end = c.after;
    run->st.edac_ue_start = c.after;  // the other counter, crossed over
    run->st.edac_ue_end = c.before;
    JsonCapture capture;
    emit_event(run->sink, EventKind::summary);
    const ojson j = ojson::parse(capture.lines().at(0));
    EXPECT_EQ(j["edac_after"]["ce"], c.after);
    EXPECT_EQ(j["edac_delta"]["ce"], c.delta);
    EXPECT_EQ(j["edac_delta"]["ue"], (c.before < 0 || c.after < 0) ? -1 : c.before - c.after);
  }
}

TEST(JsonSummary, EndReasonTextsAndKernelLogCounts) {
  const char* const texts[] = {"unknown",
                               "completed",
                               "aborted: system memory pressure limits exceeded",
                               "stopped by user",
                               "aborted: mlock failed in --strict mode",
                               "aborted: could not allocate test memory",
                               "unknown"};
  for (int reason = 0; reason <= 6; ++reason) {
    auto run = sample_run();
    run->st.end_reason = reason == 6 ? 99 : reason;
    snprintf(run->klog.source, sizeof run->klog.source, "kmsg");
    run->klog.crit = 4;
    run->klog.warn = 9;
    run->klog.info = 1;
    run->klog.base_crit = 3;
    run->klog.base_warn = 2;
    run->klog.baseline_taken = 1;
    JsonCapture capture;
    emit_event(run->sink, EventKind::summary);
    emit_event(run->sink, EventKind::progress);
    const auto lines = capture.lines();
    const ojson j = ojson::parse(lines.at(0));
    EXPECT_EQ(j["end_reason"], texts[reason]);
    EXPECT_EQ(j["covered_total"], 5000);
    EXPECT_EQ(j["klog"], ojson::parse(R"({"source":"kmsg","crit":4,"warn":9,"info":1,"crit_during":1,"warn_during":7})"));
    EXPECT_EQ(ojson::parse(lines.at(1))["klog"], ojson::parse(R"({"crit":1,"warn":7,"info":1})"));
    EXPECT_NE(j["caveat"].get<std::string>().find("not provably a single DRAM chip"), std::string::npos);
  }
}

// The map follows progress once a second, counted from the last map line of
// any kind; a run without a map (the benchmark) never sends one.
TEST(JsonProgress, MapFollowsOncePerSecondAfterAnyMapLine) {
  auto run = sample_run();
  JsonCapture capture;
  auto kinds = [&] {
    std::string seen;
    for (const std::string& line : capture.lines()) seen += ojson::parse(line)["event"].get<std::string>()[0];
    return seen;
  };
  emit_event(run->sink, EventKind::progress);  // the set-up map is fresh
  EXPECT_EQ(kinds(), "p");
  run->json.last_map_line -= 1.0;
  emit_event(run->sink, EventKind::progress);
  EXPECT_EQ(kinds(), "ppm");
  emit_event(run->sink, EventKind::progress);  // the refresh just went out
  emit_event(run->sink, EventKind::map);       // a resize map also counts
  run->json.last_map_line -= 0.9;
  emit_event(run->sink, EventKind::progress);
  EXPECT_EQ(kinds(), "ppmpmp");

  auto bench = testing::make_run();
  bench->sink = json_sink(*bench);
  JsonCapture bench_capture;
  emit_event(bench->sink, EventKind::progress);
  const auto lines = bench_capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(ojson::parse(lines[0])["event"], "progress");
}

TEST(JsonProgress, ReportsCoverageAndRunState) {
  auto run = sample_run();
  run->st.total_passes = INT64_MAX;
  run->st.nice = 19;
  run->st.last_locked = 1;
  run->ui.hold_shown = 1;
  run->faults.shown_hard = 1;
  run->faults.shown_transient = 2;
  JsonCapture capture;
  emit_event(run->sink, EventKind::progress);
  run->st.budget = 0;
  emit_event(run->sink, EventKind::progress);
  const auto lines = capture.lines();
  const ojson j = ojson::parse(lines.at(0));
  EXPECT_EQ(j["covered"], 250);
  EXPECT_EQ(j["total"], 1000);
  EXPECT_NE(lines[0].find("\"pct\":25.0,"), std::string::npos) << lines[0];
  EXPECT_EQ(j["win"], 4);
  EXPECT_EQ(j["hard"], 1);
  EXPECT_EQ(j["trans"], 2);
  EXPECT_EQ(j["algo"], "movinv-rand");
  EXPECT_EQ(j["algo_pct"], 40);
  EXPECT_EQ(j["pass"], 2);
  EXPECT_EQ(j["total_passes"], INT64_MAX);
  EXPECT_EQ(j["paused"], true);
  EXPECT_EQ(j["mlock"], true);
  EXPECT_EQ(j["sched_nice"], 19);
  EXPECT_GE(j["spin"].get<int>(), 0);
  EXPECT_LE(j["spin"].get<int>(), 3);
  EXPECT_GE(j["elapsed"].get<double>(), 0.0);
  EXPECT_NE(lines.at(1).find("\"pct\":0.0,"), std::string::npos) << lines[1];
}

TEST(JsonPhaseAndCell, ReportTheAlgorithmAndTheWindow) {
  auto run = sample_run();
  run->st.algo_name = "an-algorithm-name-longer-than-23";
  run->st.algo_pct = 0;
  JsonCapture capture;
  emit_event(run->sink, EventKind::phase);
  emit_event(run->sink, EventKind::cell);
  const auto lines = capture.lines();
  EXPECT_EQ(lines.at(0),
            R"({"event":"phase","test":"an-algorithm-name-longe","pass":2,"total_passes":3,"pct":0})");
  EXPECT_EQ(lines.at(1), R"({"event":"cell","active_lo":3,"active_hi":7,"win":4})");
}

TEST(JsonBench, PointAndSummaryLines) {
  auto run = sample_run();
  JsonCapture capture;
  const BenchPoint point = sample_bench_point();
  emit_event(run->sink, EventKind::bench_point, &point);
  emit_event(run->sink, EventKind::bench_summary);
  const auto lines = capture.lines();
  EXPECT_EQ(lines.at(0), R"({"event":"bench_point","size":4096,"op":"read","value":12.346})");
  EXPECT_EQ(lines.at(1),
            R"({"event":"bench_summary","note":"see bench_point series for L1/L2/L3/DRAM edges"})");
}

TEST(JsonKlog, LevelWordsAndInvalidTextStillGiveValidJson) {
  const struct {
    int level;
    const char* word;
  } levels[] = {{2, "crit"}, {1, "warn"}, {0, "info"}, {-3, "info"}, {7, "info"}};
  auto run = sample_run();
  JsonCapture capture;
  for (const auto& l : levels) {
    KlogEntry e = sample_klog();
    e.level = l.level;
    emit_event(run->sink, EventKind::klog, &e);
  }
  KlogEntry odd = sample_klog();
  snprintf(odd.text, sizeof odd.text, "bad \xff\xfe utf8 \"q\" \\x09 \xc3");
  odd.kts = std::numeric_limits<double>::quiet_NaN();
  odd.count = 3;
  emit_event(run->sink, EventKind::klog, &odd);
  KlogEntry wide = sample_klog();
  memset(wide.text, '\\', 175);  // escapes to 350 bytes: cut below 256
  emit_event(run->sink, EventKind::klog, &wide);
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 7u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(ojson::parse(lines[i])["level"], levels[i].word);
  const ojson j = ojson::parse(lines[5]);  // throws on ill-formed UTF-8
  EXPECT_EQ(j["text"], "bad \xef\xbf\xbd\xef\xbf\xbd utf8 \"q\" \\x09 \xef\xbf\xbd");
  EXPECT_EQ(j["count"], 3);
  EXPECT_NE(lines[5].find("\"kts\":-1.000}"), std::string::npos) << lines[5];
  const std::string text = ojson::parse(lines[6])["text"];
  EXPECT_LE(text.size() * 2, 255u);
  EXPECT_GT(text.size(), 100u);
}

TEST(JsonStream, WriteErrorsAreIgnored) {
  signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  FILE* closed_reader = fdopen(fds[1], "w");
  FILE* full_disk = fopen("/dev/full", "w");
  ASSERT_NE(closed_reader, nullptr);
  ASSERT_NE(full_disk, nullptr);
  auto run = sample_run();
  for (FILE* broken : {closed_reader, full_disk}) {
    set_json_output(broken);
    for (EventKind kind : kAllKinds) emit_sample(*run, kind);
  }
  set_json_output(nullptr);
  fclose(closed_reader);
  fclose(full_disk);
  JsonCapture capture;  // and the stream works again afterwards
  emit_sample(*run, EventKind::log);
  EXPECT_EQ(capture.lines().size(), 1u);
}

}  // namespace
}  // namespace dravik
