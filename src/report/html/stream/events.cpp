// The stream reader's handlers of the events that repeat: each folds its
// line into the record (a fault record merged over its sightings, the time
// and bytes of each pattern test, the latest map, the kernel log, the
// benchmark's ladder, the qualification's sweep, phases and bit errors).
#include <algorithm>

#include "report/html/stream/reader.h"

namespace dravik::html {

namespace {

std::string text_or(const JsonValue& v, std::string_view key, const char* fallback = "") {
  std::optional<std::string> t = v.text_of(key);
  return t ? *t : std::string(fallback);
}

// Address text the way the stream writes it ("0x1a2b"); "0x0" means none.
bool no_address(const std::string& a) { return a.empty() || a == "0x0" || a == "0"; }

}  // namespace

size_t StreamReader::test_index(const std::string& name) {
  std::vector<TestRow>& tests = record_.tests;
  for (size_t i = 0; i < tests.size(); ++i) {
    if (tests[i].name == name) return i;
  }
  if (tests.size() >= kMaxTests) return tests.size();  // no room: not counted
  tests.push_back(TestRow{name, 0.0, 0.0});
  return tests.size() - 1;
}

void StreamReader::fault(const JsonValue& v) {
  FaultRow row;
  const std::string paddr = text_or(v, "paddr");
  row.physical = !no_address(paddr);
  row.address = row.physical ? paddr : text_or(v, "vaddr", "?");
  row.dimm = text_or(v, "dimm");
  row.test = text_or(v, "test");
  row.expected = text_or(v, "expected");
  row.actual = text_or(v, "actual");
  row.flipped = text_or(v, "xor");
  row.bits = v.count_of("bits").value_or(0);
  row.cls = text_or(v, "class");
  row.count = v.count_of("count").value_or(1);
  row.cell = v.count_of("cell");
  // A record is one cell: its physical address when it has one, else its
  // virtual address, as the fault log keys it.
  const std::string key = (row.physical ? "p" : "v") + row.address;
  auto found = fault_index_.find(key);
  if (found != fault_index_.end()) {
    FaultRow& kept = record_.faults[found->second];
    // A later line of the same record: the count only grows, and the class
    // only rises to hard. The first sighting keeps its test.
    const std::string first_test = kept.test;
    const bool was_hard = kept.cls == "hard";
    if (row.count >= kept.count) kept = row;
    if (!first_test.empty()) kept.test = first_test;
    if (was_hard) kept.cls = "hard";
    return;
  }
  if (record_.faults.size() >= kMaxFaultRows) {
    ++record_.faults_dropped;
    return;
  }
  fault_index_.emplace(key, record_.faults.size());
  record_.faults.push_back(std::move(row));
}

void StreamReader::progress(const JsonValue& v) {
  RunRecord& r = record_;
  RunRecord::Cursor& c = r.cursor;
  const std::optional<double> elapsed = v.number_of("elapsed");
  if (elapsed && c.elapsed >= 0.0 && *elapsed >= c.elapsed && !c.test.empty()) {
    const size_t i = test_index(c.test);
    if (i < r.tests.size()) {
      r.tests[i].seconds += *elapsed - c.elapsed;
      if (std::find(c.since.begin(), c.since.end(), i) == c.since.end()) c.since.push_back(i);
    }
  }
  if (elapsed) c.elapsed = *elapsed;
  if (const auto algo = v.text_of("algo"); algo && !algo->empty()) c.test = *algo;
  // Covered bytes grow when a region is done: its bytes go to the tests that
  // ran on it (those of the region closed by the last cell event, else those
  // seen since the last growth). They fall back at a new pass.
  if (const std::optional<double> covered = v.number_of("covered")) {
    if (*covered > c.covered) {
      std::vector<size_t>& ran = pending_.empty() ? c.since : pending_;
      for (const size_t i : ran) r.tests[i].bytes += *covered - c.covered;
      ran.clear();
    }
    c.covered = *covered;
  }
  r.progress = v;
}

void StreamReader::phase(const JsonValue& v) {
  RunRecord::Cursor& c = record_.cursor;
  const std::optional<std::string> test = v.text_of("test");
  if (!test || test->empty()) return;
  c.test = *test;
  const size_t i = test_index(*test);
  if (i < record_.tests.size() && std::find(c.since.begin(), c.since.end(), i) == c.since.end()) {
    c.since.push_back(i);
  }
}

void StreamReader::cell() {
  // A new region starts: the tests seen so far ran on the previous one.
  RunRecord::Cursor& c = record_.cursor;
  for (const size_t i : c.since) {
    if (std::find(pending_.begin(), pending_.end(), i) == pending_.end()) pending_.push_back(i);
  }
  c.since.clear();
}

void StreamReader::map(const JsonValue& v) {
  MapGrid grid;
  grid.cols = static_cast<int32_t>(std::clamp<int64_t>(v.count_of("cols").value_or(0), 0, 4096));
  grid.rows = static_cast<int32_t>(std::clamp<int64_t>(v.count_of("rows").value_or(0), 0, 4096));
  grid.states = text_or(v, "cell_states");
  grid.bytes_per_cell = v.number_of("bytes_per_cell").value_or(0.0);
  grid.logical = v.flag_of("logical").value_or(true);
  // A map whose grid cannot hold its cells is drawn as far as its rows go.
  const size_t room = static_cast<size_t>(grid.cols) * static_cast<size_t>(grid.rows);
  if (grid.states.size() > room) grid.states.resize(room);
  if (grid.cols == 0 || grid.states.empty()) return;  // an empty map (none laid out yet)
  record_.map = std::move(grid);
}

void StreamReader::klog(const JsonValue& v) {
  KlogRow row;
  row.level = text_or(v, "level");
  row.tag = text_or(v, "tag");
  row.text = text_or(v, "text");
  row.count = v.count_of("count").value_or(1);
  row.kts = v.number_of("kts");
  if (row.kts && *row.kts < 0.0) row.kts.reset();  // the stream's "no time stamp"
  std::vector<KlogRow>& rows = record_.klog;
  if (rows.size() >= kMaxKlogRows) {
    rows.erase(rows.begin());
    ++record_.klog_dropped;
  }
  rows.push_back(std::move(row));
}

void StreamReader::bench_point(const JsonValue& v) {
  const std::optional<std::string> op = v.text_of("op");
  const std::optional<double> size = v.number_of("size");
  const std::optional<double> value = v.number_of("value");
  if (!op || !size || !value || *size <= 0.0) return;
  std::vector<BenchSample>& samples = record_.bench[*op];
  if (samples.size() < kMaxBenchSamples) samples.push_back(BenchSample{*size, *value});
}

void StreamReader::hcl_point(const JsonValue& v) {
  RunRecord& r = record_;
  const std::string phase = text_or(v, "phase");
  if (phase != "sweep") {
    if (r.hcl_points.size() < kMaxHclPoints) r.hcl_points.push_back(v);
    return;
  }
  const std::optional<int64_t> threads = v.count_of("threads");
  const std::optional<double> gbs = v.number_of("gbs");
  const std::string op = text_or(v, "op");
  if (!threads || !gbs) return;
  auto step = std::find_if(r.sweep.begin(), r.sweep.end(),
                           [&](const SweepStep& s) { return s.threads == *threads; });
  if (step == r.sweep.end()) {
    if (r.sweep.size() >= kMaxSweepSteps) return;
    r.sweep.push_back(SweepStep{*threads, std::nullopt, std::nullopt});
    step = r.sweep.end() - 1;
  }
  if (op == "read") step->read_gbs = *gbs;
  if (op == "write") step->write_gbs = *gbs;
}

void StreamReader::hcl_phase(const JsonValue& v) {
  const std::optional<std::string> id = v.text_of("id");
  if (!id) return;  // a stage line ({"phase":..,"threads":..}): no phase of the timeline
  std::vector<PhaseRow>& phases = record_.phases;
  PhaseRow row{*id, text_or(v, "name"), text_or(v, "status"), std::nullopt};
  const std::optional<double> t = v.number_of("t");
  if (t && row.status != "run" && row.status != "skip") row.seconds = t;
  // The phase's end replaces its start.
  if (!phases.empty() && phases.back().id == row.id && phases.back().status == "run") {
    phases.back() = std::move(row);
    return;
  }
  if (phases.size() < kMaxPhases) phases.push_back(std::move(row));
}

void StreamReader::hcl_error(const JsonValue& v) {
  HclErrorRow row{text_or(v, "phase"), text_or(v, "vaddr"),    text_or(v, "expected"),
                  text_or(v, "actual"), text_or(v, "xor"),     v.count_of("bits").value_or(0), 1};
  for (HclErrorRow& kept : record_.hcl_errors) {
    if (kept.phase == row.phase && kept.vaddr == row.vaddr && kept.expected == row.expected &&
        kept.actual == row.actual) {
      ++kept.count;
      return;
    }
  }
  if (record_.hcl_errors.size() >= kMaxHclErrors) {
    ++record_.hcl_errors_dropped;
    return;
  }
  record_.hcl_errors.push_back(std::move(row));
}

}  // namespace dravik::html
