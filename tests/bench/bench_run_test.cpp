// The benchmark driver end to end: in-process with a recording sink and a
// fixture meminfo, and through the real binary (JSON stream, console table,
// a real SIGINT).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "core/run/flags.h"
#include "app/run/run.h"
#include "memory/regions/arena.h"
#include "memory/probes/probes.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::TempDir;

constexpr uint64_t kMiB = 1048576;
const char* const kOps[] = {"write", "read", "copy", "latency"};

struct Recorded {
  EventKind kind;
  BenchPoint point;
  std::string status;
};
std::vector<Recorded> recorded;
// When set, the sink raises the stop flag once it sees this size's latency.
uint64_t stop_after_size = 0;

void record(void* owner, EventKind kind, const void* payload) {
  const Run& run = *static_cast<const Run*>(owner);
  BenchPoint point;
  if (kind == EventKind::bench_point && payload != nullptr) {
    point = *static_cast<const BenchPoint*>(payload);
  }
  recorded.push_back({kind, point, run.st.status_line});
  if (kind == EventKind::bench_point && point.size == stop_after_size &&
      std::string(point.op) == "latency") {
    stop_requested = 1;
  }
}

// Locked bytes of this process, from its own status file.
int64_t locked_kb() { return meminfo_kb("VmLck", "/proc/self/status"); }

class BenchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_flags();
    recorded.clear();
    stop_after_size = 0;
    run_ = testing::make_run();
    run_->cfg.mode = RunMode::BENCH;
    run_->cfg.output = OutputStyle::json;
    run_->sink = EventSink{run_.get(), record, heartbeat_sink(*run_).tick};
  }
  void TearDown() override { reset_process_flags(); }
  void available_mib(uint64_t mib) {
    run_->paths.meminfo =
        dir_.write("meminfo", "MemTotal: 25000000 kB\nMemAvailable: " +
                                  std::to_string(mib * 1024) + " kB\n");
  }
  std::vector<Recorded> points() const {
    std::vector<Recorded> out;
    for (const Recorded& r : recorded) {
      if (r.kind == EventKind::bench_point) out.push_back(r);
    }
    return out;
  }
  // Four points per size, in op order, sizes doubling from 4 KiB.
  void expect_ladder(size_t sizes) const {
    const std::vector<Recorded> got = points();
    ASSERT_EQ(got.size(), 4 * sizes);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].point.size, uint64_t{4096} << (i / 4)) << i;
      EXPECT_STREQ(got[i].point.op, kOps[i % 4]) << i;
      EXPECT_GT(got[i].point.value, 0.0) << i;
    }
  }
  TempDir dir_;
  std::unique_ptr<dravik::Run> run_;
};

TEST_F(BenchRun, With300MiBAvailableTheLadderHas14SizesThenTheSummary) {
  available_mib(300);
  const int64_t locked_before = locked_kb();
  run_bench(*run_);
  expect_ladder(14);
  ASSERT_FALSE(recorded.empty());
  EXPECT_EQ(recorded.back().kind, EventKind::bench_summary);
  EXPECT_EQ(run_->st.last_locked.load(), testing::is_root() ? 1 : 0);
  EXPECT_EQ(locked_kb(), locked_before) << "the buffer is released";
}

TEST_F(BenchRun, MemCapOf2MiBGives10Sizes) {
  available_mib(16384);
  run_->cfg.mem_cap = 2 * kMiB;
  run_bench(*run_);
  expect_ladder(10);
}

TEST_F(BenchRun, NotEnoughMemoryEndsAtOnceWithAStatusMessage) {
  for (uint64_t mib : {200, 0}) {
    recorded.clear();
    available_mib(mib);
    run_bench(*run_);
    ASSERT_EQ(recorded.size(), 1u) << mib;
    EXPECT_EQ(recorded[0].kind, EventKind::log);
    EXPECT_EQ(recorded[0].status, "not enough memory for bench");
  }
  recorded.clear();
  run_->paths.meminfo = dir_.sub("missing");
  run_bench(*run_);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].status, "not enough memory for bench");
}

TEST_F(BenchRun, AStopEndsTheLadderAfterTheCurrentSizeAndReleasesTheBuffer) {
  available_mib(16384);
  run_->cfg.mem_cap = 64 * kMiB;
  stop_after_size = 65536;  // stop arrives during the 64 KiB step
  const int64_t locked_before = locked_kb();
  run_bench(*run_);
  expect_ladder(5);
  EXPECT_EQ(recorded.back().kind, EventKind::bench_summary);
  EXPECT_EQ(locked_kb(), locked_before);
}

TEST_F(BenchRun, ConsoleOutputPrintsHeaderRowsAndClosingLine) {
  available_mib(16384);
  run_->cfg.output = OutputStyle::ascii_dashboard;
  run_->sink = ui_sink(*run_);
  run_->cfg.mem_cap = 16384;  // 4 KiB to 16 KiB
  ::testing::internal::CaptureStdout();
  run_bench(*run_);
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string header = "\ndravik bandwidth benchmark  (buffer cap 1.00MiB, mlock:";
  // The cap is below the 1 MiB floor: nothing but the status message.
  EXPECT_EQ(out, "");
  EXPECT_STREQ(run_->st.status_line, "not enough memory for bench");

  run_->cfg.mem_cap = kMiB;
  run_->clflush_usable = 1;
  ::testing::internal::CaptureStdout();
  run_bench(*run_);
  const std::string table = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(table.rfind(header, 0), 0u) << table;
  EXPECT_NE(table.find(", flush:on)\n\n  write          4.00KiB  "), std::string::npos) << table;
  EXPECT_NE(table.find("  latency        1.00MiB  "), std::string::npos) << table;
  EXPECT_NE(table.find(" ns/access\n"), std::string::npos);
  const std::string closing =
      "\nDone. Look for the GB/s drop and latency rise as size crosses L1/L2/L3 and hits DRAM.\n";
  ASSERT_GE(table.size(), closing.size());
  EXPECT_EQ(table.substr(table.size() - closing.size()), closing);
  // 9 sizes x 4 rows, each "  <op> <size>  <value> <unit>".
  std::istringstream lines(table);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("  ", 0) != 0) continue;
    std::istringstream fields(line);
    std::string op, size, unit;
    double value = 0;
    ASSERT_TRUE(fields >> op >> size >> value >> unit) << line;
    EXPECT_STREQ(op.c_str(), kOps[rows % 4]);
    EXPECT_EQ(unit, op == "latency" ? "ns/access" : "GB/s");
    ++rows;
  }
  EXPECT_EQ(rows, 36);
}

// ---- the real binary ----

using Json = nlohmann::ordered_json;

std::vector<Json> json_lines(const std::string& out) {
  std::vector<Json> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    Json parsed = Json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
    if (!parsed.is_discarded()) lines.push_back(parsed);
  }
  return lines;
}

std::vector<std::string> keys_of(const Json& object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it) keys.push_back(it.key());
  return keys;
}

TEST(BenchBinarySolo, JsonStreamHasStartFifteenSizesAndTheSummary) {
  const auto result = testing::run_dravik({"--bench", "--json", "--mem", "64M"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::vector<Json> lines = json_lines(result.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front()["event"], "start");
  EXPECT_EQ(lines.front()["mode"], "BENCH");
  // Progress, map, log and kernel-log lines may come between; the benchmark's
  // own lines are the points and then exactly one summary.
  std::vector<Json> points;
  int summaries = 0;
  for (const Json& line : lines) {
    if (line["event"] == "bench_point") {
      EXPECT_EQ(summaries, 0) << "a point after the summary";
      points.push_back(line);
    }
    if (line["event"] == "bench_summary") {
      ++summaries;
      EXPECT_EQ(line, Json::parse(R"({"event":"bench_summary",)"
                                  R"("note":"see bench_point series for L1/L2/L3/DRAM edges"})"));
    }
  }
  EXPECT_EQ(summaries, 1);
  ASSERT_EQ(points.size(), 60u);
  double latency_4k = 0, latency_64m = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    const Json& p = points[i];
    EXPECT_EQ(keys_of(p), (std::vector<std::string>{"event", "size", "op", "value"}));
    EXPECT_EQ(p["size"].get<uint64_t>(), uint64_t{4096} << (i / 4));
    EXPECT_EQ(p["op"], kOps[i % 4]);
    EXPECT_GT(p["value"].get<double>(), 0.0);
    if (p["op"] == "latency" && p["size"] == 4096) latency_4k = p["value"];
    if (p["op"] == "latency" && p["size"] == 64 * kMiB) latency_64m = p["value"];
  }
  // The walk leaves the caches: DRAM latency is many times an L1 hit.
  EXPECT_GT(latency_64m, 3 * latency_4k) << latency_4k << " ns vs " << latency_64m << " ns";
}

TEST(BenchBinary, ConsoleTablePrintsHeaderRowsAndClosingLine) {
  const auto result = testing::run_dravik({"--bench", "--mem", "2M"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out.find("{"), std::string::npos) << "no JSON without --json";
  EXPECT_NE(result.out.find("\ndravik bandwidth benchmark  (buffer cap 2.00MiB, mlock:"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("  copy           2.00MiB  "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\nDone. Look for the GB/s drop and latency rise as size crosses "
                            "L1/L2/L3 and hits DRAM.\n"),
            std::string::npos);
}

// SIGINT once the first point of a 1 GiB ladder is out (the buffer is locked
// and measured): the current size completes, the buffer is released, and the
// run still closes the table and exits 0.
TEST(BenchBinary, SigintEndsTheLadderAfterTheCurrentSize) {
  for (bool json : {false, true}) {
    std::vector<std::string> args = {"--bench", "--mem", "1G"};
    if (json) args.push_back("--json");
    testing::ProcOptions opts;
    const std::string first_point = json ? "\"event\":\"bench_point\"" : "\n  write ";
    opts.on_output = [&first_point, sent = false](pid_t pid, const std::string& out) mutable {
      if (sent || out.find(first_point) == std::string::npos) return;
      kill(pid, SIGINT);
      sent = true;
    };
    const auto result = testing::run_dravik(args, opts);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    int points = 0;
    std::istringstream in(result.out);
    std::string line;
    while (std::getline(in, line)) {
      points += json ? line.find("\"event\":\"bench_point\"") != std::string::npos
                     : line.rfind("  ", 0) == 0;
    }
    EXPECT_GT(points, 0);
    EXPECT_LT(points, 76) << "the ladder went on after SIGINT";
    EXPECT_EQ(points % 4, 0) << "the size under way was finished";
    if (json) {
      EXPECT_NE(result.out.find("{\"event\":\"bench_summary\""), std::string::npos);
    } else {
      EXPECT_NE(result.out.find("\nDone. Look for the GB/s drop"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace dravik
