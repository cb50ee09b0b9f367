// Names another user planted in a folder it owns, where root keeps its
// records: links (to a root-only file, dangling into a root-only folder, to
// /dev/zero), a FIFO, a device and a directory. Neither the history nor the
// metrics writes through or over any of them: each is refused as "PATH is
// not a regular file" and stays as it was, with nothing new beside it.
#include "report/records/folder_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "report/records/history_file.h"
#include "report/records/run_metrics.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(FolderFile, NamesPlantedByAnotherUserAreRefusedAndLeftAsTheyWere) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to write as root and plant as nobody";
  testing::TempDir dir;
  const std::string secret = dir.write("secret", "root only\n");
  chmod(secret.c_str(), 0640);
  mkdir(dir.sub("private").c_str(), 0700);
  const std::string shared = dir.sub("shared"), name = shared + "/records";
  mkdir(shared.c_str(), 0755);
  ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
  const std::string dangling = dir.sub("private/new");
  struct Planted {
    const char* what;
    std::function<int()> plant;  // 0 when planted
    bool as_nobody;              // false: root plants it on the user's behalf
  } planted[] = {
      {"link to a root-only file", [&] { return symlink(secret.c_str(), name.c_str()); }, true},
      {"dangling link", [&] { return symlink(dangling.c_str(), name.c_str()); }, true},
      {"link to /dev/zero", [&] { return symlink("/dev/zero", name.c_str()); }, true},
      {"FIFO", [&] { return mkfifo(name.c_str(), 0666); }, true},
      {"device",
       [&] {
         return mknod(name.c_str(), S_IFCHR | 0666, makedev(1, 3)) |
                lchown(name.c_str(), 65534, 65534);
       },
       false},
      {"directory", [&] { return mkdir(name.c_str(), 0755); }, true},
  };
  const std::pair<const char*, std::function<bool(std::string*)>> writers[] = {
      {"history", [&](std::string* error) { return append_history(name, "{}", 5, error); }},
      {"metrics", [&](std::string* error) { return write_run_metrics(name, {}, error); }},
  };
  for (const Planted& p : planted) {
    for (const auto& [writer, write] : writers) {
      const std::string label = std::string(writer) + " over a " + p.what;
      std::filesystem::remove_all(name);
      ASSERT_EQ(p.as_nobody ? testing::run_as_nobody(p.plant) : p.plant(), 0) << label;
      struct stat before {};
      struct stat after {};
      lstat(name.c_str(), &before);
      std::string error;
      EXPECT_FALSE(write(&error)) << label;
      EXPECT_EQ(error, name + " is not a regular file") << label;
      ASSERT_EQ(lstat(name.c_str(), &after), 0) << label;
      EXPECT_EQ(after.st_ino, before.st_ino) << label;
      EXPECT_EQ(after.st_mode, before.st_mode) << label;
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(shared), {}), 1) << label;
    }
  }
  std::ifstream f(secret);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), "root only\n");
  EXPECT_FALSE(std::filesystem::exists(dangling));
}

}  // namespace
}  // namespace dravik
