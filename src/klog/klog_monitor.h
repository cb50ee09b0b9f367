// Kernel log monitor: reads the kernel log, drops known noise, classifies each
// line into crit, warn or info, folds immediate repetitions, keeps the last
// 64 events and counts them against a baseline taken before the test.
// Only the main thread touches the monitor; other threads may read the
// counters and accept a value one event old.
#pragma once
#include <cstdint>
#include <string>

namespace dravik {


// One row of the severity table: the first row whose needle occurs in the
// lower-cased line decides its level and tag.
struct KlogRule {
  const char* needle = nullptr;  // lower-case text; nullptr ends a table
  int32_t level = 0;             // 2 crit, 1 warn, 0 info, below 0 ignore
  const char* tag = "";          // at most 15 characters
  int32_t whole_word = 0;        // match only between non-alphanumerics
};

struct KlogEntry {
  int32_t level = 0;      // 2 crit, 1 warn, other info
  char tag[16] = {};
  char text[176] = {};    // cleaned line, at most 175 characters
  double kts = -1.0;      // kernel time stamp, -1 when the log gives none
  int32_t count = 0;      // repetitions, starts at 1
};

struct KlogMonitor {
  static constexpr int kRing = 64;
  char source[8] = "none";  // "kmsg", "dmesg", "logfile" or "none"
  std::string dmesg_program;  // the program the "dmesg" source checked and runs
  int32_t available = 0;
  int fd = -1;              // /dev/kmsg descriptor
  KlogEntry ring[kRing];
  int32_t next = 0;
  int32_t entries = 0;
  int64_t crit = 0, warn = 0, info = 0;
  int64_t base_crit = 0, base_warn = 0;
  int32_t baseline_taken = 0;
  // Ring entries recorded by the initial read (all from before the run); the
  // screen marks them as such.
  int64_t entries_before_start = 0;
  int32_t enabled = 1;
};

}  // namespace dravik
