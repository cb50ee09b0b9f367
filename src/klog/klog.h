// Operations of the kernel log monitor. All of them run on the main thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/run/event_sink.h"
#include "core/sys_paths.h"
#include "klog/klog_monitor.h"

namespace dravik {

// What the monitor works with: its record, the paths it reads, the sink its
// events go to and whether the log is watched at all (--no-klog).
struct KlogContext {
  KlogMonitor& klog;
  const SysPaths& paths;
  const EventSink& sink;
  const int32_t& klog_enabled;
};

// The severity table (23 rows, ended by a row whose needle is nullptr) and
// the phrases that mark known harmless lines (ended by nullptr).
const KlogRule* klog_rules();
const char* const* klog_ignore_list();

// The dmesg programs looked for, in order, when /dev/kmsg cannot be opened.
const std::vector<std::string>& klog_default_dmesg_programs();

// Chooses the source when enabled (run.klog_enabled): run.paths.kmsg
// opened read-only and non-blocking gives "kmsg"; else the first dmesg
// program that is an executable regular file at an absolute path gives
// "dmesg" (the path is kept in run.klog.dmesg_program); else a readable
// run.paths.dmesg_log gives "logfile"; else "none". The overload takes the
// dmesg program candidates.
void klog_setup(KlogContext& run);
void klog_setup(KlogContext& run, const std::vector<std::string>& dmesg_programs);

// Reads what the log already holds from the chosen source, then records the
// baseline. Does nothing without a source. The "dmesg" source runs the
// program klog_setup checked, and a refused one leaves the log unwatched.
void klog_initial_read(KlogContext& run);

// The two one-shot readers: lines of dmesg's output ("[ts] text"), and the
// lines of a log file (time stamp -1). The program runs at exactly the given
// path, without arguments, shell or search of PATH, with an environment of a
// fixed PATH only (for a program that is a script); it returns false when it
// could not start or ended with a failure status (dmesg refused, say). A
// missing file reads nothing.
bool klog_read_dmesg(KlogContext& run, const std::string& program);
void klog_read_logfile(KlogContext& run, const std::string& path);

// Records the current crit and warn counters as the baseline, once.
void klog_take_baseline(KlogContext& run);

// Reads up to 256 pending records from the /dev/kmsg descriptor (run.klog.fd;
// any descriptor delivering one record per read works).
void klog_drain(KlogContext& run);

// Classifies one line; ts is the kernel time stamp or -1. The overload takes
// its own severity table (ended by a nullptr needle).
void klog_classify(KlogContext& run, const char* line, double ts);
void klog_classify(KlogContext& run, const char* line, double ts, const KlogRule* rules);

// Closes the /dev/kmsg descriptor.
void klog_close(KlogContext& run);

// crit and warn minus the baseline when it was taken, else the totals.
int64_t klog_crit_during(const KlogMonitor& m);
int64_t klog_warn_during(const KlogMonitor& m);

// The most recent entry, or nullptr when the ring is empty; age 0 is the
// newest, up to entries - 1.
const KlogEntry* klog_recent(const KlogMonitor& m, int32_t age = 0);

}  // namespace dravik
