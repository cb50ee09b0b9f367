#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "klog/klog.h"
#include "klog/klog_capture.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::KlogCapture;
using testing::make_run;
using testing::TempDir;

// A fake /dev/kmsg: a datagram socket hands out one record per read, and a
// non-blocking read of an empty socket fails like an idle /dev/kmsg.
class FakeKmsg {
 public:
  FakeKmsg() {
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds_) != 0) fds_[0] = fds_[1] = -1;
    const int big = 8 << 20;
    if (setsockopt(fds_[1], SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof big) != 0) {
      setsockopt(fds_[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    }
  }
  ~FakeKmsg() {
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  void attach(Run& run) {
    run.klog.fd = fds_[0];
    fds_[0] = -1;  // the monitor owns and closes it now
    strcpy(run.klog.source, "kmsg");
    run.klog.available = 1;
  }
  bool put(const std::string& record) {
    return send(fds_[1], record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(KlogDrain, ParsesHeaderAndTimestampOfEachRecord) {
  auto run = make_run();
  FakeKmsg kmsg;
  kmsg.attach(*run);
  const struct {
    const char* record;
    const char* text;  // nullptr: nothing recorded
    double kts;
  } cases[] = {
      {"6,123,4567890,-;a.out[1]: segfault at 0\n SUBSYSTEM=cpu\n", "a.out[1]: segfault at 0", 4.56789},
      {"3,124,0,-;EDAC MC0: 1 CE memory read error", "EDAC MC0: 1 CE memory read error", -1.0},
      {"6,125;kernel panic without stamp", "kernel panic without stamp", -1.0},
      {"junk;Oops: 0000 [#1] SMP", "Oops: 0000 [#1] SMP", -1.0},
      {"no separator at all, hardware error", nullptr, 0},
      {"4,126,1000000,-;usb 1-1: new device", nullptr, 0},
      {"4,127,2500000,c;mce: [Hardware Error]: CPU 0", "mce: [Hardware Error]: CPU 0", 2.5},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(kmsg.put(c.record));
    const int32_t before = run->klog.entries;
    klog_drain(*run);
    if (c.text == nullptr) {
      EXPECT_EQ(run->klog.entries, before) << c.record;
      continue;
    }
    ASSERT_EQ(run->klog.entries, before + 1) << c.record;
    EXPECT_STREQ(klog_recent(run->klog)->text, c.text);
    EXPECT_DOUBLE_EQ(klog_recent(run->klog)->kts, c.kts) << c.record;
  }
  klog_drain(*run);  // nothing pending: returns at once
  EXPECT_EQ(run->klog.crit, 2);
  EXPECT_EQ(run->klog.warn, 3);
  klog_close(*run);
  EXPECT_EQ(run->klog.fd, -1);
}

TEST(KlogDrain, ReadsAtMost256RecordsPerCall) {
  auto run = make_run();
  FakeKmsg kmsg;
  kmsg.attach(*run);
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(kmsg.put("6," + std::to_string(i) + ",1,-;segfault " + std::to_string(i)));
  }
  klog_drain(*run);
  EXPECT_EQ(run->klog.warn, 256);
  klog_drain(*run);
  EXPECT_EQ(run->klog.warn, 300);
}

TEST(KlogDrain, RecordLongerThanTheTextLimitIsClassifiedByItsStart) {
  auto run = make_run();
  FakeKmsg kmsg;
  kmsg.attach(*run);
  ASSERT_TRUE(kmsg.put("2,1,5,-;Kernel panic " + std::string(6000, 'x')));
  ASSERT_TRUE(kmsg.put("6,2,6,-;segfault after the long one"));
  klog_drain(*run);
  EXPECT_EQ(run->klog.crit, 1);
  EXPECT_EQ(run->klog.warn, 1);
}

TEST(KlogInitialRead, KmsgBaselineComesAfterEveryRecordAlreadyHeld) {
  // Old records beyond one drain's 256 must not count as events of the test.
  auto run = make_run();
  FakeKmsg kmsg;
  kmsg.attach(*run);
  for (int i = 0; i < 600; ++i) {
    ASSERT_TRUE(kmsg.put("6," + std::to_string(i) + ",1,-;segfault old " + std::to_string(i)));
  }
  klog_initial_read(*run);
  EXPECT_EQ(run->klog.warn, 600);
  EXPECT_EQ(run->klog.baseline_taken, 1);
  EXPECT_EQ(klog_warn_during(run->klog), 0);
  ASSERT_TRUE(kmsg.put("6,600,1,-;segfault new"));
  klog_drain(*run);
  EXPECT_EQ(klog_warn_during(run->klog), 1);
}

// An executable program at name in dir running the shell text body.
std::string program(const TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.write(name, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
  return path;
}

// A stand-in dmesg that prints output.
std::string fake_dmesg(const TempDir& dir, const std::string& output) {
  dir.write("dmesg.out", output);
  return program(dir, "bin/dmesg", "cat '" + dir.sub("dmesg.out") + "'");
}

TEST(KlogDmesg, ParsesBracketedTimestampsAndPlainLines) {
  TempDir dir;
  const std::string long_line = "segfault first " + std::string(530, 'q') + " kernel panic tail";
  const std::string out =
      "[    0.000000] Linux version 6.1\n"
      "[   12.345678] EDAC MC0: 1 CE memory read error\n"
      "no bracket here, segfault\n"
      "[bad] Kernel panic - not syncing\n"
      "[nan] Out of memory: Killed process 1\n"
      "[1.5 call trace without a closing bracket\n" +
      long_line + "\n" +
      "[ 99.5]Oops: 0000 [#1] SMP";  // last line without a newline
  auto run = make_run();
  KlogCapture capture(*run);
  klog_read_dmesg(*run, fake_dmesg(dir, out));
  const std::vector<KlogEntry>& seen = capture.seen();
  ASSERT_EQ(seen.size(), 7u);
  const struct {
    const char* text;
    double kts;
  } want[] = {
      {"EDAC MC0: 1 CE memory read error", 12.345678},
      {"no bracket here, segfault", -1.0},
      {"Kernel panic - not syncing", -1.0},
      {"Out of memory: Killed process 1", -1.0},
      {"[1.5 call trace without a closing bracket", -1.0},
      {nullptr, -1.0},  // the long line: cut, its tail not read as a line
      {"Oops: 0000 [#1] SMP", 99.5},
  };
  for (size_t i = 0; i < seen.size(); ++i) {
    if (want[i].text) {
      EXPECT_STREQ(seen[i].text, want[i].text);
    }
    EXPECT_DOUBLE_EQ(seen[i].kts, want[i].kts) << i;
  }
  EXPECT_EQ(std::string(seen[5].text), long_line.substr(0, 175));
  EXPECT_EQ(run->klog.crit, 1);
}

TEST(KlogDmesg, ProgramThatCannotRunReadsNothing) {
  auto run = make_run();
  EXPECT_FALSE(klog_read_dmesg(*run, "/nonexistent/dravik-dmesg"));
  klog_read_logfile(*run, "/nonexistent/dravik-dmesg.log");
  EXPECT_EQ(run->klog.entries, 0);
}

TEST(KlogLogfile, LinesCarryNoTimestamp) {
  TempDir dir;
  const std::string path = dir.write(
      "dmesg", "[    3.000000] EDAC MC0: 1 CE memory read error\n\nmce: [Hardware Error]: x\n");
  auto run = make_run();
  klog_read_logfile(*run, path);
  ASSERT_EQ(run->klog.entries, 2);
  EXPECT_STREQ(klog_recent(run->klog, 1)->text, "[    3.000000] EDAC MC0: 1 CE memory read error");
  EXPECT_DOUBLE_EQ(klog_recent(run->klog, 1)->kts, -1.0);
  EXPECT_DOUBLE_EQ(klog_recent(run->klog, 0)->kts, -1.0);
}

TEST(KlogOneShotSources, NulByteInsideALineKeepsTheNextLine) {
  // Both one-shot readers: the line after the NUL must still be classified,
  // and the NUL itself reads as a blank.
  using namespace std::string_literals;
  const std::string text =
      "abc\0def\nEDAC MC0: 1 CE memory read error\n[ 5.0] Out of\0memory\n[ 6.0] hung task\n"s;
  TempDir dir;
  auto from_dmesg = make_run();
  klog_read_dmesg(*from_dmesg, fake_dmesg(dir, text));
  auto from_file = make_run();
  klog_read_logfile(*from_file, dir.write("dmesg.log", text));
  for (dravik::Run* run : {from_dmesg.get(), from_file.get()}) {
    ASSERT_EQ(run->klog.entries, 3) << run->klog.entries;
    EXPECT_STREQ(klog_recent(run->klog, 2)->text, "EDAC MC0: 1 CE memory read error");
    EXPECT_STREQ(klog_recent(run->klog, 2)->tag, "edac");
    EXPECT_STREQ(klog_recent(run->klog, 0)->tag, "hung");
  }
  EXPECT_STREQ(klog_recent(from_dmesg->klog, 1)->text, "Out of memory");
  EXPECT_DOUBLE_EQ(klog_recent(from_dmesg->klog, 0)->kts, 6.0);
}

struct SourceCase {
  const char* name;
  bool kmsg;          // the kmsg path opens
  bool exec_dmesg;    // an executable dmesg candidate exists
  bool logfile;       // the log file is readable
  bool enabled;
  const char* source;
};

class KlogSourceSelection : public ::testing::TestWithParam<SourceCase> {};

TEST_P(KlogSourceSelection, FallsBackInOrder) {
  const SourceCase& c = GetParam();
  TempDir dir;
  auto run = make_run();
  run->cfg.klog_enabled = c.enabled;
  run->paths.kmsg = c.kmsg ? dir.write("kmsg", "") : dir.sub("no-kmsg");
  run->paths.dmesg_log = c.logfile ? dir.write("dmesg.log", "segfault\n") : dir.sub("no-log");
  // Candidates that must be passed over: missing, not executable, a
  // directory, and an executable named by a relative path (which program it
  // names depends on the working directory).
  const std::string relative =
      std::filesystem::relative(program(dir, "elsewhere/dmesg", "echo segfault")).string();
  ASSERT_NE(relative[0], '/');
  std::vector<std::string> programs{dir.sub("missing"), dir.write("plain", "#!/bin/sh\n"),
                                    dir.path(), relative};
  if (c.exec_dmesg) {
    programs.push_back(dir.write("dmesg", "#!/bin/sh\necho segfault\n"));
    chmod(programs.back().c_str(), 0755);
  }
  klog_setup(*run, programs);
  EXPECT_STREQ(run->klog.source, c.source);
  EXPECT_EQ(run->klog.available, strcmp(c.source, "none") != 0);
  EXPECT_EQ(run->klog.fd >= 0, strcmp(c.source, "kmsg") == 0);
  EXPECT_EQ(run->klog.enabled, c.enabled ? 1 : 0);
  klog_close(*run);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, KlogSourceSelection,
    ::testing::Values(SourceCase{"all", true, true, true, true, "kmsg"},
                      SourceCase{"no_kmsg", false, true, true, true, "dmesg"},
                      SourceCase{"log_only", false, false, true, true, "logfile"},
                      SourceCase{"nothing", false, false, false, true, "none"},
                      SourceCase{"disabled", true, true, true, false, "none"}),
    [](const ::testing::TestParamInfo<SourceCase>& info) { return std::string(info.param.name); });

TEST(KlogInitialRead, LogfileSourceIsReadOnceWithBaseline) {
  TempDir dir;
  auto run = make_run();
  run->paths.kmsg = dir.sub("no-kmsg");
  run->paths.dmesg_log = dir.write("dmesg.log", "segfault one\nKernel panic two\n");
  klog_setup(*run, {});
  ASSERT_STREQ(run->klog.source, "logfile");
  klog_initial_read(*run);
  EXPECT_EQ(run->klog.crit, 1);
  EXPECT_EQ(run->klog.warn, 1);
  EXPECT_EQ(klog_crit_during(run->klog), 0);
  klog_drain(*run);  // only kmsg is followed
  EXPECT_EQ(run->klog.entries, 2);
}

TEST(KlogInitialRead, DmesgSourceRunsTheProgramOnce) {
  TempDir dir;
  auto run = make_run();
  run->paths.kmsg = dir.sub("no-kmsg");
  klog_setup(*run, {fake_dmesg(dir, "[ 1.0] EDAC MC0: 1 CE\n[ 2.0] segfault\n")});
  ASSERT_STREQ(run->klog.source, "dmesg");
  klog_initial_read(*run);
  EXPECT_EQ(run->klog.warn, 2);
  EXPECT_EQ(klog_warn_during(run->klog), 0);
  EXPECT_EQ(run->klog.available, 1);
  EXPECT_EQ(run->klog.entries_before_start, 2) << "both lines predate the run";
}

TEST(KlogInitialRead, RefusedDmesgLeavesTheLogUnwatched) {
  TempDir dir;
  const struct {
    const char* body;  // nullptr: the program is gone by the time it is run
    int available;
  } cases[] = {
      {"echo 'dmesg: read kernel buffer failed: Operation not permitted' >&2; exit 1", 0},
      {"echo '[ 1.0] segfault'; exit 1", 0},  // whatever it printed, it failed
      {nullptr, 0},
      {"kill -TERM $$", 0},
      {"echo '[ 1.0] segfault'", 1},
  };
  for (const auto& c : cases) {
    const std::string dmesg = program(dir, "dmesg", c.body ? c.body : "");
    auto run = make_run();
    run->paths.kmsg = dir.sub("no-kmsg");
    klog_setup(*run, {dmesg});
    ASSERT_EQ(run->klog.available, 1);
    if (c.body == nullptr) unlink(dmesg.c_str());
    klog_initial_read(*run);
    EXPECT_EQ(run->klog.available, c.available) << (c.body ? c.body : "gone");
    EXPECT_STREQ(run->klog.source, "dmesg") << "names the source that was tried";
  }
}

// The source runs the program at the path it checked, with nothing of this
// process's environment: another dmesg first on PATH never runs.
TEST(KlogInitialRead, DmesgSourceRunsThePathItCheckedWithAFixedEnvironment) {
  TempDir dir;
  const std::string decoy_ran = dir.sub("decoy-ran");
  program(dir, "path/dmesg", "touch '" + decoy_ran + "'; echo 'Kernel panic - decoy'");
  const std::string checked =
      program(dir, "sbin/dmesg", "echo \"[ 1.0] segfault PATH=$PATH planted=$DRAVIK_PLANTED\"");
  const char* const old_path = getenv("PATH");
  const std::string saved = old_path ? old_path : "";
  setenv("PATH", (dir.sub("path") + ":" + saved).c_str(), 1);
  setenv("DRAVIK_PLANTED", "yes", 1);
  auto run = make_run();
  run->paths.kmsg = dir.sub("no-kmsg");
  klog_setup(*run, {checked});
  klog_initial_read(*run);
  setenv("PATH", saved.c_str(), 1);
  unsetenv("DRAVIK_PLANTED");
  EXPECT_EQ(run->klog.dmesg_program, checked);
  EXPECT_EQ(access(decoy_ran.c_str(), F_OK), -1) << "the dmesg first on PATH ran";
  EXPECT_EQ(run->klog.crit, 0);
  ASSERT_EQ(run->klog.entries, 1);
  EXPECT_STREQ(klog_recent(run->klog)->text, "segfault PATH=/usr/sbin:/usr/bin:/sbin:/bin planted=");
}

TEST(KlogInitialRead, NothingHappensWithoutSource) {
  auto run = make_run();
  run->cfg.klog_enabled = 0;
  klog_setup(*run);
  klog_initial_read(*run);
  klog_drain(*run);
  EXPECT_EQ(run->klog.entries, 0);
  EXPECT_EQ(run->klog.baseline_taken, 0);
}

int dmesg_restricted() {
  std::ifstream f("/proc/sys/kernel/dmesg_restrict");
  int value = 0;
  f >> value;
  return value;
}

TEST(KlogSourceUnprivileged, OrdinaryUserFallsBackWithoutKmsgAccess) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to drop to nobody";
  const int restricted = dmesg_restricted();
  const int status = testing::run_as_nobody([restricted] {
    auto run = make_run();
    klog_setup(*run);
    klog_initial_read(*run);
    klog_drain(*run);
    const bool any_dmesg = access("/bin/dmesg", X_OK) == 0 || access("/usr/bin/dmesg", X_OK) == 0 ||
                           access("/sbin/dmesg", X_OK) == 0;
    if (restricted) {
      if (run->klog.fd >= 0) return 10;
      if (any_dmesg && strcmp(run->klog.source, "dmesg") != 0) return 11;
      // dmesg is refused too: nothing is read and nothing is counted, and
      // the log is reported as not watched.
      if (run->klog.crit + run->klog.warn + run->klog.info != 0) return 12;
      if (any_dmesg && run->klog.available) return 15;
    } else if (strcmp(run->klog.source, "kmsg") != 0) {
      return 13;
    }
    if (!run->klog.baseline_taken && run->klog.available) return 14;
    klog_close(*run);
    return 0;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace dravik
