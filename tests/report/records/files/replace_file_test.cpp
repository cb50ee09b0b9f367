// A writer killed once its new file is on disk, before the file has a name:
// the old file stays whole; with unnamed files nothing is left behind, and a
// temporary named from the start is removed by the next run, but not what
// only looks like one (a link, another user's file, a live writer's).
#include "report/records/files/replace_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/test_support.h"

namespace dravik {
namespace {

// The folder's names other than dravik.prom, and what dravik.prom holds.
std::pair<std::set<std::string>, std::string> folder_of(const testing::TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    if (e.path().filename() != "dravik.prom") names.insert(e.path().filename());
  }
  std::ifstream f(dir.sub("dravik.prom"));
  return {names, std::string(std::istreambuf_iterator<char>(f), {})};
}

TEST(ReplaceFile, AWriterKilledBeforeTheRenameLeavesNothingPastTheNextRun) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to plant another user's file";
  for (const bool unnamed : {true, false}) {
    testing::TempDir dir;
    const std::string path = dir.write("dravik.prom", "old\n");
    const pid_t pid = fork();
    if (pid == 0) {
      ReplaceOptions how;
      how.unnamed_first = unnamed;
      how.before_link = [] { raise(SIGKILL); };
      _exit(replace_file(path, "new\n", how, nullptr));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    auto [left, content] = folder_of(dir);
    EXPECT_EQ(content, "old\n");
    const std::string dead = kTemporaryPrefix + std::to_string(pid) + ".";
    ASSERT_EQ(left.size(), unnamed ? 0u : 1u) << unnamed;
    if (!unnamed) {
      EXPECT_EQ(left.begin()->rfind(dead, 0), 0u) << *left.begin();
    }
    ASSERT_EQ(symlink(path.c_str(), dir.sub(dead + "link").c_str()), 0);
    ASSERT_EQ(chown(dir.write(dead + "theirs", "x").c_str(), 65534, 65534), 0);
    dir.write(".dravik-tmp.1.0", "x");  // process 1 lives
    std::string error;
    ASSERT_TRUE(replace_file(path, "new\n", ReplaceOptions{}, &error)) << error;
    EXPECT_EQ(folder_of(dir), std::make_pair(std::set<std::string>{dead + "link", dead + "theirs",
                                                                   ".dravik-tmp.1.0"},
                                             std::string("new\n")));
  }
}

}  // namespace
}  // namespace dravik
