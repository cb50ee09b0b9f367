#include "memory/regions/arena.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/test_support.h"

namespace dravik {
namespace {

constexpr uint64_t MiB = 1ull << 20;

// A field of /proc/self/status in kB ("VmLck", "VmSize"), -1 when missing.
// Reads into a stack buffer so that it is safe in a forked child.
long status_kb(const char* field) {
  char buf[8192];
  const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return -1;
  buf[n] = '\0';
  const size_t len = strlen(field);
  for (char* line = buf; line != nullptr && *line != '\0';) {
    if (strncmp(line, field, len) == 0 && line[len] == ':')
      return strtol(line + len + 1, nullptr, 10);
    line = strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return -1;
}

// Every page of the range is backed by RAM.
bool all_resident(const void* base, uint64_t size) {
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> vec((size + page - 1) / page);
  if (mincore(const_cast<void*>(base), size, vec.data()) != 0) return false;
  for (unsigned char v : vec) {
    if ((v & 1) == 0) return false;
  }
  return true;
}

TEST(Arena, LockedRegionIsLockedAndBackedAndFreedClean) {
  if (!testing::is_root()) GTEST_SKIP() << "locking needs root";
  const long before = status_kb("VmLck");
  ArenaRegion r = arena_alloc(16 * MiB);
  ASSERT_NE(r.base, nullptr);
  EXPECT_EQ(r.size, 16 * MiB);
  EXPECT_EQ(r.locked, 1);
  EXPECT_EQ(status_kb("VmLck") - before, 16 * 1024);
  EXPECT_TRUE(all_resident(r.base, r.size));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(r.base) % 8, 0u);

  arena_free(r);
  EXPECT_EQ(r.base, nullptr);
  EXPECT_EQ(r.size, 0u);
  EXPECT_EQ(r.locked, 0);
  EXPECT_EQ(status_kb("VmLck"), before);
  arena_free(r);  // an empty value is a no-op
}

TEST(Arena, UntouchedMappingIsNotResident) {
  // Control for the pre-fault test below: mincore really tells backed pages
  // from unbacked ones.
  void* p = mmap(nullptr, 4 * MiB, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(p, MAP_FAILED);
  EXPECT_FALSE(all_resident(p, 4 * MiB));
  munmap(p, 4 * MiB);
}

TEST(Arena, UnlockableRegionIsPrefaulted) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to drop to nobody";
  // 1: alloc failed, 2: locked anyway, 3: a page not backed.
  const int status = testing::run_as_nobody([] {
    rlimit lim{64 * 1024, 64 * 1024};
    if (setrlimit(RLIMIT_MEMLOCK, &lim) != 0) return 9;
    ArenaRegion r = arena_alloc(16 * MiB);
    if (r.base == nullptr) return 1;
    if (r.locked != 0) return 2;
    if (!all_resident(r.base, r.size)) return 3;
    if (status_kb("VmLck") != 0) return 4;
    arena_free(r);
    return r.base == nullptr ? 0 : 5;
  });
  EXPECT_EQ(status, 0);
}

TEST(Arena, ZeroSizeIsRefused) {
  ArenaRegion r = arena_alloc(0);
  EXPECT_EQ(r.base, nullptr);
  EXPECT_EQ(r.locked, 0);
}

// Runs fn in a forked child whose address space may grow only by headroom
// bytes; returns fn's result.
template <typename Fn>
int with_address_space_headroom(uint64_t headroom, Fn fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    const long vm_kb = status_kb("VmSize");
    if (vm_kb < 0) _exit(99);
    const rlim_t limit = static_cast<rlim_t>(vm_kb) * 1024 + headroom;
    rlimit lim{limit, limit};
    if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(98);
    _exit(fn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Arena, HalvingFindsWhatFits) {
  // 64 and 32 MiB do not fit in 20 MiB of address space; 16 MiB does.
  const int status = with_address_space_headroom(20 * MiB, [] {
    ArenaRegion r = arena_alloc_halving(64 * MiB);
    if (r.base == nullptr) return 1;
    const int result = r.size == 16 * MiB ? 0 : 2;
    arena_free(r);
    return result;
  });
  EXPECT_EQ(status, 0);
}

TEST(Arena, HalvingGivesUpBelowTheFloor) {
  const int status = with_address_space_headroom(4 * MiB, [] {
    ArenaRegion r = arena_alloc_halving(64 * MiB);
    return r.base == nullptr && r.size == 0 ? 0 : 1;
  });
  EXPECT_EQ(status, 0);

  // Below the floor from the start: nothing is even tried.
  EXPECT_EQ(arena_alloc_halving(4 * MiB).base, nullptr);
  EXPECT_EQ(arena_alloc_halving(16 * MiB, 32 * MiB).base, nullptr);

  ArenaRegion fits = arena_alloc_halving(12 * MiB);
  ASSERT_NE(fits.base, nullptr);
  EXPECT_EQ(fits.size, 12 * MiB);
  arena_free(fits);
}

TEST(Arena, ReleaseAllFreesEveryEntryAndSkipsEmptyOnes) {
  const long before = status_kb("VmLck");
  RegionTable table;
  table.entries[0] = arena_alloc(8 * MiB);
  table.entries[2] = arena_alloc(8 * MiB);  // slot 1 was given back empty
  table.count = 3;
  ASSERT_NE(table.entries[0].base, nullptr);
  ASSERT_NE(table.entries[2].base, nullptr);
  if (testing::is_root()) {
    EXPECT_EQ(status_kb("VmLck") - before, 16 * 1024);
  }

  table.release_all();
  EXPECT_EQ(table.count, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(table.entries[i].base, nullptr) << i;
  EXPECT_EQ(status_kb("VmLck"), before);
  table.release_all();  // releasing an empty table is harmless
}

}  // namespace
}  // namespace dravik
