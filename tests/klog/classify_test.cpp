#include <gtest/gtest.h>

#include <string>

#include "core/run/flags.h"
#include "klog/klog.h"
#include "klog/klog_capture.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::KlogCapture;
using testing::make_run;

struct ClassifyCase {
  const char* line;
  int level;          // -1: the line is dropped
  const char* tag;
  const char* text;   // stored text; nullptr: the line itself
};

class ClassifyLine : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyLine, GivesLevelTagAndCleanedText) {
  const ClassifyCase& c = GetParam();
  auto run = make_run();
  KlogCapture capture(*run);
  klog_classify(*run, c.line, 12.5);
  const KlogMonitor& m = run->klog;
  if (c.level < 0) {
    EXPECT_EQ(m.entries, 0) << c.line;
    EXPECT_EQ(m.crit + m.warn + m.info, 0);
    EXPECT_TRUE(capture.seen().empty());
    return;
  }
  ASSERT_EQ(m.entries, 1) << c.line;
  const KlogEntry& e = *klog_recent(m);
  EXPECT_EQ(e.level, c.level);
  EXPECT_STREQ(e.tag, c.tag);
  EXPECT_STREQ(e.text, c.text ? c.text : c.line);
  EXPECT_EQ(e.count, 1);
  EXPECT_DOUBLE_EQ(e.kts, 12.5);
  EXPECT_EQ(m.crit, c.level == 2 ? 1 : 0);
  EXPECT_EQ(m.warn, c.level == 1 ? 1 : 0);
  ASSERT_EQ(capture.seen().size(), 1u);
  EXPECT_STREQ(capture.seen()[0].text, e.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ClassifyLine,
    ::testing::Values(
        // rule 10 (edac) comes before rule 11 (corrected error)
        ClassifyCase{"EDAC MC0: 1 CE memory read error", 1, "edac", nullptr},
        ClassifyCase{"mce: [Hardware Error]: Machine check events logged", 2, "mce", nullptr},
        ClassifyCase{"Machine Check Exception: 4 Bank 5", 2, "mce", nullptr},
        // crit rows win over the edac row
        ClassifyCase{"EDAC MC0: 1 UE uncorrectable error on DIMM0", 2, "ecc-ue", nullptr},
        ClassifyCase{"Memory failure: 0x12345: recovery action for dirty page", 2, "mem-fail",
                     nullptr},
        ClassifyCase{"Kernel panic - not syncing: Fatal exception", 2, "panic", nullptr},
        ClassifyCase{"mc0: ce_count 3", 1, "ecc-ce", nullptr},
        ClassifyCase{"a.out[1234]: segfault at 0 ip 0000 sp 0000 error 4", 1, "segfault", nullptr},
        ClassifyCase{"SEGFAULT IN CAPITALS", 1, "segfault", nullptr},
        ClassifyCase{"traps: x[1] general protection fault ip:1", 1, "gpf", nullptr},
        ClassifyCase{"Oops: 0000 [#1] SMP", 1, "oops", nullptr},
        ClassifyCase{"driver said oops", 1, "oops", nullptr},
        ClassifyCase{"whoops, retrying", -1, "", nullptr},
        ClassifyCase{"oopsie daisy", -1, "", nullptr},
        // "bug:" (row 16) is searched before "soft lockup" (row 21)
        ClassifyCase{"watchdog: BUG: soft lockup - CPU#0 stuck for 22s!", 1, "bug", nullptr},
        ClassifyCase{"Call Trace:", 1, "trace", nullptr},
        ClassifyCase{"Out of memory: Killed process 123 (x)", 1, "oom", nullptr},
        ClassifyCase{"x invoked oom-killer: gfp_mask=0x0", 1, "oom", nullptr},
        ClassifyCase{"kworker: page allocation failure: order:4", 1, "allocfail", nullptr},
        ClassifyCase{"INFO: task x:1 blocked; hung task detected", 1, "hung", nullptr},
        ClassifyCase{"NMI received for unexpected reason 30 on CPU 0.", 1, "nmi", nullptr},
        ClassifyCase{"svm: enabling vnmi", -1, "", nullptr},
        ClassifyCase{"perf: nmi", 1, "nmi", nullptr},
        // the ignore list is searched before the table
        ClassifyCase{"NMI watchdog: enabled on all CPUs, permanently consumes one hw-PMU counter",
                     -1, "", nullptr},
        ClassifyCase{"Machine check injector initialized", -1, "", nullptr},
        ClassifyCase{"ramoops: hardware error area at 0x0", -1, "", nullptr},
        ClassifyCase{"mce: CPU0: Thermal monitoring enabled (TM1)", -1, "", nullptr},
        ClassifyCase{"usb 1-1: new high-speed USB device", -1, "", nullptr},
        ClassifyCase{"", -1, "", nullptr},
        ClassifyCase{" \t  \t", -1, "", nullptr},
        // cleaning: leading blanks and tabs, control bytes, trailing blanks
        ClassifyCase{"\t  segfault at 0   ", 1, "segfault", "segfault at 0"},
        ClassifyCase{"segfault\x01here\x1b[0m", 1, "segfault", "segfault here [0m"},
        ClassifyCase{"caf\xc3\xa9 segfault \xff", 1, "segfault", "caf\xc3\xa9 segfault \xff"},
        // only the first line of a record is looked at
        ClassifyCase{"segfault at 1\n SUBSYSTEM=cpu kernel panic", 1, "segfault", "segfault at 1"},
        ClassifyCase{"harmless first line\r\nkernel panic", -1, "", nullptr},
        ClassifyCase{"\n kernel panic", -1, "", nullptr}));

TEST(KlogClassify, RecordOf175CharactersIsKeptWholeAndLongerOnesAreCut) {
  auto run = make_run();
  const std::string exact = "segfault " + std::string(175 - 9, 'x');
  klog_classify(*run, exact.c_str(), -1);
  EXPECT_EQ(std::string(klog_recent(run->klog)->text), exact);

  const std::string longer = "kernel panic " + std::string(200, 'y');
  klog_classify(*run, longer.c_str(), -1);
  EXPECT_EQ(std::string(klog_recent(run->klog)->text), longer.substr(0, 175));

  // A phrase that starts after the 175th byte is never seen.
  const std::string hidden = std::string(175, 'z') + " kernel panic";
  klog_classify(*run, hidden.c_str(), -1);
  EXPECT_EQ(run->klog.entries, 2);
}

TEST(KlogClassify, ImmediateRepetitionsFoldIntoOneEntry) {
  auto run = make_run();
  KlogCapture capture(*run);
  const char* line = "a.out[99]: segfault at 8 ip 0 sp 0 error 4";
  for (int i = 0; i < 3; ++i) klog_classify(*run, line, 1.0 + i);
  const KlogMonitor& m = run->klog;
  EXPECT_EQ(m.entries, 1);
  EXPECT_EQ(klog_recent(m)->count, 3);
  EXPECT_DOUBLE_EQ(klog_recent(m)->kts, 1.0);  // the first sighting's stamp
  EXPECT_EQ(m.warn, 1);
  EXPECT_EQ(capture.seen().size(), 1u);

  // Folding looks only at the newest entry: A B A gives three entries.
  klog_classify(*run, "Call Trace:", 5.0);
  klog_classify(*run, line, 6.0);
  EXPECT_EQ(m.entries, 3);
  EXPECT_EQ(m.warn, 3);
  // Cleaning happens before the comparison: trailing blanks do not matter.
  klog_classify(*run, "  a.out[99]: segfault at 8 ip 0 sp 0 error 4   ", 7.0);
  EXPECT_EQ(m.entries, 3);
  EXPECT_EQ(klog_recent(m)->count, 2);
}

TEST(KlogClassify, RingKeepsTheLast64Entries) {
  auto run = make_run();
  for (int i = 0; i < 70; ++i) {
    klog_classify(*run, ("segfault number " + std::to_string(i)).c_str(), i);
  }
  const KlogMonitor& m = run->klog;
  EXPECT_EQ(m.entries, 64);
  EXPECT_EQ(m.next, 70 % 64);
  EXPECT_EQ(m.warn, 70);
  EXPECT_STREQ(klog_recent(m, 0)->text, "segfault number 69");
  EXPECT_STREQ(klog_recent(m, 63)->text, "segfault number 6");
  EXPECT_EQ(klog_recent(m, 64), nullptr);
}

TEST(KlogClassify, OwnTableHonoursInfoAndIgnoreLevels) {
  const KlogRule rules[] = {
      {"drop me", -1, "drop", 0},
      {"note", 0, "note", 1},
      {nullptr, 0, "", 0},
  };
  auto run = make_run();
  KlogCapture capture(*run);
  klog_classify(*run, "please drop me, a note", -1, rules);
  klog_classify(*run, "footnote only", -1, rules);
  klog_classify(*run, "a note here", -1, rules);
  EXPECT_EQ(run->klog.entries, 1);
  EXPECT_EQ(run->klog.info, 1);
  EXPECT_EQ(run->klog.crit + run->klog.warn, 0);
  ASSERT_EQ(capture.seen().size(), 1u);
  EXPECT_EQ(capture.seen()[0].level, 0);
}

TEST(KlogClassify, CountsDuringTheTestAreMeasuredFromTheBaseline) {
  auto run = make_run();
  klog_classify(*run, "mce: [Hardware Error]: old", -1);
  klog_classify(*run, "segfault old", -1);
  EXPECT_EQ(klog_crit_during(run->klog), 1);  // no baseline yet: the totals
  klog_take_baseline(*run);
  klog_classify(*run, "segfault new", -1);
  klog_take_baseline(*run);  // taken once only
  klog_classify(*run, "EDAC MC0: 2 CE", -1);
  EXPECT_EQ(run->klog.crit, 1);
  EXPECT_EQ(run->klog.warn, 3);
  EXPECT_EQ(klog_crit_during(run->klog), 0);
  EXPECT_EQ(klog_warn_during(run->klog), 2);
}

TEST(KlogClassify, WorkerThreadsCountButDoNotEmit) {
  auto run = make_run();
  KlogCapture capture(*run);
  {
    testing::AsWorker worker;
    klog_classify(*run, "kernel panic on a worker", -1);
  }
  EXPECT_EQ(run->klog.crit, 1);
  EXPECT_TRUE(capture.seen().empty());
}

}  // namespace
}  // namespace dravik
