// What a page is drawn from: a run as its event stream tells it. The stream
// reader fills it line by line; every part that the stream did not carry
// stays empty (or nullopt) and the page says it is missing. Its size is
// bounded whatever the length of the stream: repeated events are merged or
// kept to their latest, long lists keep a bounded number of entries and
// count the rest.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "report/html/stream/json_value.h"

namespace dravik::html {

// One fault record of the fault test, merged over its sightings: the stream
// sends the record again with a higher count each time it is seen.
struct FaultRow {
  std::string address;  // the physical address, or the virtual one when there is none
  bool physical = false;
  std::string dimm, test, expected, actual, flipped;  // flipped: the xor
  int64_t bits = 0;
  std::string cls;      // "hard" or "transient"
  int64_t count = 0;    // sightings
  std::optional<int64_t> cell;
};

// Time and bytes of one pattern test, summed over the regions it ran on.
struct TestRow {
  std::string name;
  double seconds = 0.0;  // from the progress lines while it ran
  double bytes = 0.0;    // bytes of the regions it finished
};

struct KlogRow {
  std::string level, tag, text;
  int64_t count = 0;
  std::optional<double> kts;  // kernel time stamp
};

struct MapGrid {
  int32_t cols = 0, rows = 0;
  std::string states;  // one digit per cell, as the map event sends it
  double bytes_per_cell = 0.0;
  bool logical = true;
};

struct BenchSample {
  double size = 0.0;  // bytes of the working set
  double value = 0.0; // GB/s, or ns per access for latency
};

struct SweepStep {
  int64_t threads = 0;
  std::optional<double> read_gbs, write_gbs;
};

struct PhaseRow {
  std::string id, name, status;
  std::optional<double> seconds;
};

struct HclErrorRow {
  std::string phase, vaddr, expected, actual, flipped;
  int64_t bits = 0;
  int64_t count = 1;  // identical lines merged
};

// What the reader saw of the stream itself.
struct StreamHealth {
  int64_t lines = 0;          // lines seen, the cut last one included
  int64_t events = 0;         // lines that were events of this program
  int64_t unreadable = 0;     // lines that are not complete JSON objects (torn, foreign)
  int64_t foreign = 0;        // JSON objects that are not events it knows
  int64_t too_long = 0;       // lines longer than the reader keeps
  bool cut_at_end = false;    // the last line had no newline and did not parse
  bool read_limit = false;    // reading stopped at the size limit
  std::vector<int64_t> unreadable_lines;  // the first few line numbers
};

inline constexpr size_t kMaxKlogRows = 200;
inline constexpr size_t kMaxFaultRows = 4096;
inline constexpr size_t kMaxHclErrors = 256;
inline constexpr size_t kMaxTests = 64;
inline constexpr size_t kMaxBenchSamples = 256;  // per operation
inline constexpr size_t kMaxSweepSteps = 64;
inline constexpr size_t kMaxPhases = 64;
inline constexpr size_t kMaxUnreadableLines = 8;
inline constexpr size_t kMaxHclPoints = 64;
inline constexpr size_t kMaxLogLines = 20;

struct RunRecord {
  // The latest of each singular event, as it came.
  std::optional<JsonValue> start, summary, progress, bench_summary;
  std::optional<JsonValue> hcl_info, hcl_setup, hcl_verdict, hcl_abort;
  std::optional<JsonValue> run_end;  // the report's own closing record of a live run

  // Fault test.
  std::vector<FaultRow> faults;      // in first-seen order
  int64_t faults_dropped = 0;        // records past kMaxFaultRows
  std::vector<TestRow> tests;        // in first-run order
  std::optional<MapGrid> map;        // the last map
  std::vector<KlogRow> klog;         // the latest kMaxKlogRows
  int64_t klog_dropped = 0;
  std::vector<std::string> log;      // status messages, the latest few
  std::vector<JsonValue> pressure;   // pressure events, the latest few

  // Benchmark: op -> samples in ladder order.
  std::map<std::string, std::vector<BenchSample>> bench;

  // Qualification.
  std::vector<SweepStep> sweep;
  std::vector<PhaseRow> phases;
  std::vector<JsonValue> hcl_points; // hcl_point lines other than the sweep's (latency, loads)
  std::vector<HclErrorRow> hcl_errors;
  int64_t hcl_errors_dropped = 0;

  StreamHealth health;

  // Working state of the reader between lines.
  struct Cursor {
    std::string test;           // the test running now
    double elapsed = -1.0;      // of the last progress line
    double covered = 0.0;       // of the last progress line
    std::vector<size_t> since;  // tests that ran since the last region ended
  } cursor;
};

}  // namespace dravik::html
