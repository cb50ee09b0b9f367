// The kept history: a line per run added to what is there (a torn or
// hand-edited line stays as it is), the oldest lines dropped past the bound,
// runs that append at once never mixing their lines or losing one, and the
// line itself: the result event with the run's context, whatever the options.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "report/records/history_file.h"
#include "report/records/history_line.h"
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
  chmod(path.c_str(), 0600);
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
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file keeps its mode when the oldest lines go";
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
