// The kernel log for real: lines written into /dev/kmsg while the monitor
// (and the whole binary) follows it. Needs root; each line carries a marker
// unique to the test so that older log content cannot confuse it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "core/text.h"
#include "klog/klog.h"
#include "klog/klog_capture.h"
#include "report/json/json_capture.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::check_line_format;
using testing::KlogCapture;
using testing::ojson;

std::string unique_marker(const char* what) {
  return std::string("dravik-test-") + what + "-" + std::to_string(getpid()) + "-" +
         std::to_string(static_cast<long long>(now_seconds() * 1e6));
}

bool kmsg_usable() {
  if (!testing::is_root()) return false;
  const int r = open("/dev/kmsg", O_RDONLY | O_NONBLOCK);
  const int w = open("/dev/kmsg", O_WRONLY);
  if (r >= 0) close(r);
  if (w >= 0) close(w);
  return r >= 0 && w >= 0;
}

// Writes records into the kernel log, one record per write. The newline
// closes each record at once (an open record is not handed to readers yet).
// A fresh descriptor per batch stays inside the kernel's per-writer limit.
void inject(const std::vector<std::string>& records) {
  const int fd = open("/dev/kmsg", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << strerror(errno);
  for (const std::string& text : records) {
    const std::string record = text + "\n";
    EXPECT_EQ(write(fd, record.data(), record.size()), static_cast<ssize_t>(record.size()))
        << strerror(errno);
  }
  close(fd);
}

// The lines injected by both tests, each with its marker.
struct Injected {
  std::string edac, mce, nmi, segfault, odd;
  explicit Injected(const std::string& m)
      : edac(m + " EDAC MC0: 1 CE memory read error on DIMM_A1"),
        mce(m + " mce: [Hardware Error]: Machine check events logged"),
        nmi(m + " NMI watchdog: enabled on all CPUs, permanently consumes one hw-PMU counter."),
        segfault(m + " a.out[4242]: segfault at 0 ip 0000 sp 0000 error 4"),
        odd(m + " segfault\twith tab, back\\slash and caf\xc3\xa9") {}
  std::vector<std::string> all() const { return {edac, mce, nmi, segfault, segfault, segfault, odd}; }
};

TEST(KlogLive, MonitorFollowsRecordsWrittenToKmsg) {
  if (!kmsg_usable()) GTEST_SKIP() << "needs root and /dev/kmsg";
  auto run = testing::make_run();
  KlogCapture capture(*run);
  klog_setup(*run);
  ASSERT_STREQ(run->klog.source, "kmsg");
  klog_initial_read(*run);
  ASSERT_EQ(run->klog.baseline_taken, 1);
  const int64_t crit0 = klog_crit_during(run->klog), warn0 = klog_warn_during(run->klog);

  const std::string marker = unique_marker("unit");
  const Injected lines(marker);
  inject(lines.all());
  // The kernel consumes a record too long for the read buffer; non-printable
  // bytes come back as \xNN, so this one is over 3 KiB when read.
  inject({marker + " Kernel panic test record " + std::string(900, '\x01'),
          marker + " Call Trace: after the long record"});
  for (int i = 0; i < 4; ++i) klog_drain(*run);

  std::vector<KlogEntry> mine;
  for (const KlogEntry& e : capture.seen()) {
    if (strstr(e.text, marker.c_str())) mine.push_back(e);
  }
  ASSERT_EQ(mine.size(), 6u);
  const struct {
    int level;
    const char* tag;
  } want[] = {{1, "edac"}, {2, "mce"}, {1, "segfault"}, {1, "segfault"}, {2, "panic"}, {1, "trace"}};
  for (size_t i = 0; i < mine.size(); ++i) {
    EXPECT_EQ(mine[i].level, want[i].level) << mine[i].text;
    EXPECT_STREQ(mine[i].tag, want[i].tag) << mine[i].text;
    EXPECT_GT(mine[i].kts, 0.0);
  }
  // The kernel escapes the tab, the backslash and the non-ASCII bytes.
  EXPECT_NE(std::string(mine[3].text).find("segfault\\x09with tab, back\\x5cslash and caf\\xc3\\xa9"),
            std::string::npos)
      << mine[3].text;
  EXPECT_EQ(strlen(mine[4].text), 175u);
  // The three identical segfault lines are one entry counted three times.
  bool folded = false;
  for (int age = 0; age < run->klog.entries; ++age) {
    const KlogEntry* e = klog_recent(run->klog, age);
    if (lines.segfault == e->text) folded = e->count == 3;
  }
  EXPECT_TRUE(folded);
  EXPECT_GE(klog_crit_during(run->klog) - crit0, 2);
  EXPECT_GE(klog_warn_during(run->klog) - warn0, 4);
  klog_close(*run);
}

// The real binary with its standard output on a pipe, read line by line.
class LiveDravik {
 public:
  explicit LiveDravik(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 2);
      close(fds[0]);
      close(fds[1]);
      std::vector<std::string> argv{testing::dravik_binary()};
      argv.insert(argv.end(), args.begin(), args.end());
      std::vector<char*> c;
      for (std::string& a : argv) c.push_back(a.data());
      c.push_back(nullptr);
      execv(c[0], c.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~LiveDravik() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // Reads until a complete line satisfies pred or the time runs out.
  template <typename Pred>
  bool wait_for(Pred pred, double seconds) {
    const double deadline = now_seconds() + seconds;
    size_t checked = 0;
    while (true) {
      const auto lines = testing::JsonCapture::split_lines(text_);
      for (; checked < lines.size(); ++checked) {
        if (pred(lines[checked])) return true;
      }
      if (now_seconds() > deadline || !read_some(deadline)) return false;
    }
  }

  // Sends SIGINT and reads to the end; returns the exit code (-1 if killed).
  int interrupt_and_finish(double seconds) {
    kill(pid_, SIGINT);
    const double deadline = now_seconds() + seconds;
    while (read_some(deadline)) {
    }
    int status = 0;
    if (now_seconds() > deadline) kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> lines() const { return testing::JsonCapture::split_lines(text_); }

 private:
  // Reads what is available; false at end of stream or past the deadline.
  bool read_some(double deadline) {
    const double left = deadline - now_seconds();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) return now_seconds() <= deadline;
    char buf[65536];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return n < 0 && errno == EINTR;
    text_.append(buf, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::string text_;
};

bool is_event(const std::string& line, const char* name) {
  return line.find(std::string("{\"event\":\"") + name + "\"") == 0;
}

TEST(KlogLive, JsonStreamReportsInjectedKernelLines) {
  if (!kmsg_usable()) GTEST_SKIP() << "needs root and /dev/kmsg";
  LiveDravik dravik({"--json", "--passes", "0", "--quick", "--mem", "64M"});
  // The first map line comes after the initial read and its baseline.
  ASSERT_TRUE(dravik.wait_for([](const std::string& l) { return is_event(l, "map"); }, 60));

  const std::string marker = unique_marker("json");
  const Injected injected(marker);
  inject(injected.all());
  const bool seen = dravik.wait_for(
      [&](const std::string& l) {
        return is_event(l, "klog") && l.find(marker) != std::string::npos &&
               l.find("with tab") != std::string::npos;
      },
      30);
  const int exit_code = dravik.interrupt_and_finish(60);
  ASSERT_TRUE(seen) << "the last injected line never came out";

  const auto lines = dravik.lines();
  ASSERT_GE(lines.size(), 3u);
  bool after_first_map = false;
  int64_t crit_after = 0, warn_after = 0;
  std::vector<ojson> mine;
  for (const std::string& line : lines) {
    ASSERT_EQ(check_line_format(line), "") << line.substr(0, 300);
    const ojson j = ojson::parse(line);
    if (j["event"] == "map") after_first_map = true;
    if (j["event"] != "klog") continue;
    if (after_first_map && j["level"] == "crit") ++crit_after;
    if (after_first_map && j["level"] == "warn") ++warn_after;
    if (j["text"].get<std::string>().find(marker) != std::string::npos) mine.push_back(j);
  }
  ASSERT_EQ(mine.size(), 4u) << "edac, mce, one folded segfault, the odd line; no NMI watchdog";
  const struct {
    const char* level;
    const char* tag;
    const std::string& text;
  } want[] = {{"warn", "edac", injected.edac},
              {"crit", "mce", injected.mce},
              {"warn", "segfault", injected.segfault}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(mine[i]["level"], want[i].level);
    EXPECT_EQ(mine[i]["tag"], want[i].tag);
    EXPECT_EQ(mine[i]["text"], want[i].text);
    EXPECT_EQ(mine[i]["count"], 1);  // an event is sent for the first sighting only
    EXPECT_GT(mine[i]["kts"].get<double>(), 0.0);
  }
  EXPECT_EQ(mine[3]["level"], "warn");
  EXPECT_EQ(mine[3]["text"], marker + " segfault\\x09with tab, back\\x5cslash and caf\\xc3\\xa9");

  const ojson summary = ojson::parse(lines.back());
  ASSERT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["end_reason"], "stopped by user");
  EXPECT_EQ(summary["klog"]["source"], "kmsg");
  // What happened during the test is exactly what was announced after the
  // baseline: three segfault lines raised warn by one.
  EXPECT_EQ(summary["klog"]["crit_during"], crit_after);
  EXPECT_EQ(summary["klog"]["warn_during"], warn_after);
  EXPECT_GE(crit_after, 1);
  EXPECT_GE(warn_after, 3);
  EXPECT_EQ(exit_code, summary["verdict"] == "PASS" ? 0 : exit_code);
}

}  // namespace
}  // namespace dravik
