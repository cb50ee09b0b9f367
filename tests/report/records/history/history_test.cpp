// The kept history: a line per run added to what is there (a torn or
// hand-edited line stays as it is), the oldest lines dropped past the bound
// keeping the file's owner and mode (a new file is private), runs that
// append at once never mixing their lines or losing one, a lock another
// user holds waited for only so long, a huge file read only at its end, and
// the line itself: the result event with the run's context, whatever the
// options.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "core/run/flags.h"
#include "report/records/history/file.h"
#include "report/records/history/line.h"
#include "support/test_support.h"

namespace dravik {
namespace {

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream f(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

std::string numbered(int n) { return "{\"n\":" + std::to_string(n) + "}"; }

TEST(History, TornLinesStayNewLinesAreWholeAndTheOldestGoPastTheBound) {
  testing::TempDir dir;
  const std::string path = dir.write("history.jsonl", "{\"n\":1}\nnot json\n{\"event\":\"summ");
  chmod(path.c_str(), 0604);
  const bool root = testing::is_root() && chown(path.c_str(), 65534, 65534) == 0;
  std::string error;
  for (int n = 2; n <= 6; ++n) {
    ASSERT_TRUE(append_history(path, numbered(n), 5, &error)) << error;
    if (n == 3) {
      EXPECT_EQ(lines_of(path),
                (std::vector<std::string>{numbered(1), "not json", "{\"event\":\"summ", numbered(2),
                                          numbered(3)}));
    }
  }
  EXPECT_EQ(lines_of(path), (std::vector<std::string>{numbered(2), numbered(3), numbered(4),
                                                      numbered(5), numbered(6)}));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u) << "the file keeps its mode when the oldest lines go";
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u) << "and its owner";
    EXPECT_EQ(st.st_gid, 65534u) << "and its group";
  }
  const mode_t mask = umask(0);
  ASSERT_TRUE(append_history(dir.sub("new.jsonl"), numbered(1), 5, &error)) << error;
  umask(mask);
  ASSERT_EQ(stat(dir.sub("new.jsonl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "a new file is private";
  EXPECT_FALSE(append_history(dir.sub("missing/history.jsonl"), numbered(7), 5, &error));
  EXPECT_EQ(error,
            "cannot open " + dir.sub("missing/history.jsonl") + ": No such file or directory");
}

// Four runs append at once, long lines, over a bound they pass many times:
// the file ends with exactly the bound, every line whole, and each run's
// lines in it are its newest ones, in order with none missing (a run that
// finished early may have been trimmed away whole).
TEST(History, RunsAppendingAtOnceNeverMixOrLoseLines) {
  testing::TempDir dir;
  const std::string path = dir.sub("history.jsonl");
  constexpr int kRuns = 4, kLines = 40, kKeep = 100;
  std::vector<pid_t> children;
  for (int r = 0; r < kRuns; ++r) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int i = 0; i < kLines; ++i) {
        const std::string line = "{\"run\":" + std::to_string(r) + ",\"i\":" + std::to_string(i) +
                                 ",\"pad\":\"" + std::string(4000, 'a' + r) + "\"}";
        if (!append_history(path, line, kKeep, nullptr)) _exit(1);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const auto lines = lines_of(path);
  EXPECT_EQ(lines.size(), static_cast<size_t>(kKeep));
  std::vector<int> last(kRuns, -1);
  for (const std::string& line : lines) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << line.substr(0, 80);
    const int run = j.value("run", -1), i = j.value("i", -1);
    ASSERT_TRUE(run >= 0 && run < kRuns);
    EXPECT_EQ(j.value("pad", ""), std::string(4000, 'a' + run));
    if (last[run] >= 0) {
      EXPECT_EQ(i, last[run] + 1) << "run " << run;
    }
    last[run] = i;
  }
  for (int r = 0; r < kRuns; ++r) {
    if (last[r] >= 0) {
      EXPECT_EQ(last[r], kLines - 1) << "the last line of run " << r;
    }
  }
}

// Any user who can read the history can lock it. The wait ends at its
// limit, or (under the program's signal handler, after the stop that ended
// the run) at a SIGTERM that arrives during it; the line is not written.
TEST(History, ALockHeldByAnotherUserEndsTheWaitAtItsLimitOrOnAStopSignal) {
  testing::TempDir dir;
  const std::string path = dir.write("history.jsonl", numbered(1) + "\n");
  chmod(path.c_str(), 0644);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  char c = 0;
  const pid_t holder = fork();
  if (holder == 0) {  // a shared lock as nobody, held until killed
    const int fd = testing::is_root() && setuid(65534) != 0 ? -1 : open(path.c_str(), O_RDONLY);
    if (fd >= 0 && flock(fd, LOCK_SH) == 0 && write(ready[1], &c, 1) == 1) pause();
    _exit(1);
  }
  ASSERT_EQ(read(ready[0], &c, 1), 1) << "the holder took no lock";
  std::string error;
  EXPECT_FALSE(append_history(path, numbered(2), 5, &error, LockWait{0.2, {}}));
  EXPECT_EQ(error, "history busy: " + path + " is locked by another process");
  const pid_t waiter = fork();
  if (waiter == 0) {
    install_signal_handlers(nullptr);
    raise(SIGTERM);
    _exit(write(ready[1], &c, 1) == 1 && !append_history(path, numbered(2), 5, &error) &&
                  error == "history busy: " + path + " is locked by another process (wait stopped)"
              ? 0
              : 1);
  }
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  // Signals until the waiter is done: one sent before its wait began does
  // not end it, the next does. A wait that never ends is cut off.
  int status = 0;
  for (int sent = 0; waitpid(waiter, &status, WNOHANG) == 0; ++sent) {
    kill(waiter, sent < 3000 ? SIGTERM : SIGKILL);
    usleep(20000);
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  EXPECT_EQ(lines_of(path), std::vector<std::string>{numbered(1)});
}

// A 3 GB sparse history: 1,500 lines, a hole, 10 lines. Under an address
// space far smaller than the file only its end is read; its whole lines
// there are kept, the line that began before it is not.
TEST(History, AHugeSparseFileIsReadOnlyAtItsEnd) {
  if (testing::sanitized_build()) GTEST_SKIP() << "the sanitizers need the whole address space";
  testing::TempDir dir;
  std::string head, tail = "\n";
  std::vector<std::string> expected;
  for (int n = 1; n <= 1500; ++n) head += numbered(n) + "\n";
  for (int n = 10001; n <= 10011; ++n) expected.push_back(numbered(n < 10011 ? n : 0));
  for (int n = 0; n < 10; ++n) tail += expected[n] + "\n";
  const std::string path = dir.write("history.jsonl", head);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), off_t{3} << 30), ssize_t(tail.size()));
  close(fd);
  const pid_t pid = fork();
  if (pid == 0) {  // what the child maps already and 256 MiB more
    rlim_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t bytes = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
    const rlimit limit{bytes, bytes};
    _exit(pages > 0 && setrlimit(RLIMIT_AS, &limit) == 0 &&
                  append_history(path, numbered(0), 20, nullptr)
              ? 0
              : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(lines_of(path), expected);
}

TEST(History, LineIsTheResultEventWithTheRunAdded) {
  RunOutcome o;
  o.result_line = "{\"event\":\"summary\",\"verdict\":\"FAIL\",\"hard\":1}";
  o.host = "nas\"1";
  o.start_time = 1796709389.5;
  o.options = {"--metrics", "/srv/a b\"c.prom", "\xff\t\n"};
  o.exit_status = 1;
  const auto j = nlohmann::json::parse(history_line(o), nullptr, false);
  ASSERT_FALSE(j.is_discarded()) << history_line(o);
  EXPECT_EQ(j.value("event", ""), "summary");
  EXPECT_EQ(j.value("hard", 0), 1);
  EXPECT_EQ(j.value("host", ""), "nas\"1");
  EXPECT_EQ(j.value("version", ""), kVersion);
  EXPECT_EQ(j.value("start", ""), "2026-12-08T05:56:29Z");
  EXPECT_EQ(j["options"], nlohmann::json({"--metrics", "/srv/a b\"c.prom", "\xef\xbf\xbd\n"}));
  EXPECT_EQ(j.value("exit_status", -1), 1);
  o.result_line.clear();
  o.verdict = "INCONCLUSIVE";
  const auto bare = nlohmann::json::parse(history_line(o), nullptr, false);
  EXPECT_EQ(bare.value("event", ""), "run_end");
  EXPECT_EQ(bare.value("verdict", ""), "INCONCLUSIVE");
}

}  // namespace
}  // namespace dravik
