// A writer killed once its new file is on disk but before the file has its
// name: the old file stays whole; where the file system has unnamed files
// nothing is left behind, and where the temporary had a name from the start
// the next run removes it, but not what only looks like one (a link,
// another user's file, a live writer's).
#include "report/records/replace_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/test_support.h"

namespace dravik {
namespace {

std::set<std::string> entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.insert(e.path().filename());
  }
  return names;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  return std::string(std::istreambuf_iterator<char>(f), {});
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
      replace_file(path, "new\n", how, nullptr);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(read_file(path), "old\n");
    std::set<std::string> left = entries(dir.path());
    left.erase("dravik.prom");
    const std::string dead = kTemporaryPrefix + std::to_string(pid) + ".";
    ASSERT_EQ(left.size(), unnamed ? 0u : 1u) << unnamed;
    if (!unnamed) {
      EXPECT_EQ(left.begin()->rfind(dead, 0), 0u) << *left.begin();
    }
    const std::set<std::string> look_alikes = {dead + "link", dead + "theirs", ".dravik-tmp.1.0"};
    ASSERT_EQ(symlink(path.c_str(), dir.sub(dead + "link").c_str()), 0);
    ASSERT_EQ(chown(dir.write(dead + "theirs", "x").c_str(), 65534, 65534), 0);
    dir.write(".dravik-tmp.1.0", "x");  // process 1 lives
    std::string error;
    ASSERT_TRUE(replace_file(path, "new\n", ReplaceOptions{}, &error)) << error;
    EXPECT_EQ(read_file(path), "new\n");
    left = entries(dir.path());
    left.erase("dravik.prom");
    EXPECT_EQ(left, look_alikes) << unnamed;
  }
}

}  // namespace
}  // namespace dravik
