// Operations of the kernel log monitor.
#pragma once
#include "klog/klog_monitor.h"

namespace dravik {

struct Run;

// Chooses the source ("kmsg", "dmesg", "logfile" or "none") when enabled.
void klog_setup(Run& run);
// Reads what the log already holds, then records the baseline.
void klog_initial_read(Run& run);
// Reads up to 256 pending /dev/kmsg records.
void klog_drain(Run& run);
// Classifies one line; ts is the kernel time stamp or -1.
void klog_classify(Run& run, const char* line, double ts);
// Closes the /dev/kmsg descriptor.
void klog_close(Run& run);
// crit and warn minus the baseline when it was taken.
int64_t klog_crit_during(const KlogMonitor& m);
int64_t klog_warn_during(const KlogMonitor& m);

}  // namespace dravik
