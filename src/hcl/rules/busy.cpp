#include "hcl/rules/busy.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace dravik {

namespace {

// The aggregate "cpu" line: user nice system idle iowait irq softirq steal
// (guest time is already inside user). Older kernels stop after fewer
// fields; those missing read 0.
bool read_box(const std::string& path, CpuTimes& t) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return false;
  char line[512];
  const bool got = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  if (!got || strncmp(line, "cpu ", 4) != 0) return false;
  uint64_t v[8] = {};
  const int n = sscanf(line + 4, "%" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
                                 " %" SCNu64 " %" SCNu64 " %" SCNu64,
                       &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]);
  if (n < 4) return false;
  t.total = 0;
  for (const uint64_t x : v) t.total += x;
  t.busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
  t.steal = v[7];
  return true;
}

// utime and stime, fields 14 and 15 of /proc/PID/stat; the command name in
// parentheses may hold blanks, so the fields are counted after its last ')'.
bool read_own(const std::string& path, CpuTimes& t) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return false;
  char line[1024];
  const bool got = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  const char* close = got ? strrchr(line, ')') : nullptr;
  if (close == nullptr) return false;
  uint64_t utime = 0, stime = 0;
  // state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt utime stime
  if (sscanf(close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %" SCNu64 " %" SCNu64,
             &utime, &stime) != 2) {
    return false;
  }
  t.own = utime + stime;
  return true;
}

}  // namespace

CpuTimes read_cpu_times(const std::string& stat_path, const std::string& self_stat_path) {
  CpuTimes t;
  t.ok = read_box(stat_path, t) && read_own(self_stat_path, t);
  return t;
}

BoxLoad box_load(const CpuTimes& before, const CpuTimes& after, double psi_mem10, double load1,
                 int own_threads, int cpus) {
  BoxLoad load;
  load.psi_mem10 = psi_mem10;
  load.load1 = load1;
  if (before.ok && after.ok && after.total > before.total && after.busy >= before.busy &&
      after.steal >= before.steal && after.own >= before.own) {
    const double total = static_cast<double>(after.total - before.total);
    const uint64_t busy = after.busy - before.busy;
    const uint64_t own = after.own - before.own;
    const uint64_t others = busy > own ? busy - own : 0;
    load.others_pct = static_cast<double>(others) * 100.0 / total;
    load.steal_pct = static_cast<double>(after.steal - before.steal) * 100.0 / total;
  }
  const bool cpu_taken = load.others_pct > kBusyOthersPct;
  const bool stalled = psi_mem10 > kBusyPsiPct;
  const bool loaded = load1 >= 0.0 && load1 - own_threads > kBusyLoadPerCpu * cpus;
  load.busy = cpu_taken || stalled || loaded;
  return load;
}

}  // namespace dravik
