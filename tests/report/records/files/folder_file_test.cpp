// Names another user planted in a folder it owns, where root keeps its
// records: links (to a file of root's, dangling into a root-only folder, to
// /dev/zero), a FIFO, a directory and a device. Neither the history nor the
// metrics writes through or over any of them: each is refused as "PATH is
// not a regular file" and stays as it was, with nothing new beside it.
#include "report/records/files/folder_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "report/records/history/file.h"
#include "report/records/metrics/run_metrics.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(FolderFile, NamesPlantedByAnotherUserAreRefusedAndLeftAsTheyWere) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to write as root and plant as nobody";
  testing::TempDir dir;
  const std::string secret = dir.write("secret", "root only\n"), dangling = dir.sub("private/new");
  const std::string shared = dir.sub("shared"), name = shared + "/records";
  mkdir(dir.sub("private").c_str(), 0700);
  mkdir(shared.c_str(), 0755);
  ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
  // Planted by nobody; the device by root on its behalf (nobody cannot).
  const std::pair<std::string, std::function<int()>> planted[] = {
      {"link to a file of root's", [&] { return symlink(secret.c_str(), name.c_str()); }},
      {"dangling link", [&] { return symlink(dangling.c_str(), name.c_str()); }},
      {"link to /dev/zero", [&] { return symlink("/dev/zero", name.c_str()); }},
      {"FIFO", [&] { return mkfifo(name.c_str(), 0666); }},
      {"directory", [&] { return mkdir(name.c_str(), 0755); }},
      {"device", [&] { return mknod(name.c_str(), S_IFCHR | 0666, makedev(1, 3)); }},
  };
  const std::pair<std::string, std::function<bool(std::string*)>> writers[] = {
      {"history", [&](std::string* error) { return append_history(name, "{}", 5, error); }},
      {"metrics", [&](std::string* error) { return write_run_metrics(name, {}, error); }},
  };
  for (const auto& [what, plant] : planted) {
    for (const auto& [writer, write] : writers) {
      const std::string label = writer + " over a " + what;
      std::filesystem::remove_all(name);
      ASSERT_EQ(what == "device" ? plant() : testing::run_as_nobody(plant), 0) << label;
      struct stat before {}, after {};
      lstat(name.c_str(), &before);
      std::string error;
      EXPECT_FALSE(write(&error)) << label;
      EXPECT_EQ(error, name + " is not a regular file") << label;
      EXPECT_TRUE(lstat(name.c_str(), &after) == 0 && after.st_ino == before.st_ino) << label;
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(shared), {}), 1) << label;
    }
  }
  std::ifstream f(secret);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), "root only\n");
  EXPECT_FALSE(std::filesystem::exists(dangling));
}

}  // namespace
}  // namespace dravik
