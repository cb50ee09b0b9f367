// The constant tables of the kernel log monitor: what is known noise, and
// which phrase makes a line how serious. Order matters: the first matching
// row wins, so "edac" (a corrected-error report names its controller) comes
// before "corrected error", and the crit rows come before all warn rows.
#include "klog/klog.h"

namespace dravik {

namespace {

constexpr KlogRule kRules[] = {
    {"hardware error", 2, "mce", 0},
    {"machine check event", 2, "mce", 0},
    {"machine check exception", 2, "mce", 0},
    {"uncorrected", 2, "ecc-ue", 0},
    {"uncorrectable", 2, "ecc-ue", 0},
    {"ue_count", 2, "ecc-ue", 0},
    {"memory failure", 2, "mem-fail", 0},
    {"data corruption", 2, "corrupt", 0},
    {"kernel panic", 2, "panic", 0},
    {"edac", 1, "edac", 0},
    {"corrected error", 1, "ecc-ce", 0},
    {"ce_count", 1, "ecc-ce", 0},
    {"segfault", 1, "segfault", 0},
    {"general protection", 1, "gpf", 0},
    {"oops", 1, "oops", 1},  // not "whoops"
    {"bug:", 1, "bug", 0},
    {"call trace", 1, "trace", 0},
    {"out of memory", 1, "oom", 0},
    {"oom-kill", 1, "oom", 0},
    {"page allocation failure", 1, "allocfail", 0},
    {"soft lockup", 1, "lockup", 0},
    {"hung task", 1, "hung", 0},
    {"nmi", 1, "nmi", 1},  // not "vnmi"
    {nullptr, 0, "", 0},
};

// Boot and driver chatter that names a rule's phrase without reporting an
// error (the MCE and NMI set-up lines, the pstore/ramoops registration).
constexpr const char* kIgnore[] = {
    "injector initialized", "thermal monitoring", "mce bandwidth",
    "mce: version",         "mce_chrdev initialized", "lapic_nmi",
    "nmi watchdog:",        "permanently consumes",   "ramoops:",
    "registered ramoops",   nullptr,
};

}  // namespace

const KlogRule* klog_rules() { return kRules; }
const char* const* klog_ignore_list() { return kIgnore; }

const std::vector<std::string>& klog_default_dmesg_programs() {
  static const std::vector<std::string> programs{"/bin/dmesg", "/usr/bin/dmesg", "/sbin/dmesg"};
  return programs;
}

}  // namespace dravik
