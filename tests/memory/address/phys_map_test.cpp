#include "memory/address/phys_map.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/map/memory_map.h"
#include "memory/regions/arena.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::TempDir;

using Span = std::pair<uint64_t, uint64_t>;

std::vector<Span> ranges_of(const RamRanges& r) {
  std::vector<Span> v;
  for (int32_t i = 0; i < r.count; ++i) v.emplace_back(r.entries[i].first, r.entries[i].last);
  return v;
}

TEST(RamRanges, OnlySystemRamLinesOfTheResourceList) {
  const RamRanges r = read_ram_ranges(testing::fixture("iomem/three_ram_ranges.iomem"));
  const std::vector<Span> want{
      {0x1000, 0x9fbff}, {0x100000, 0xbfffffff}, {0x100000000, 0x63fffffff}};
  EXPECT_EQ(ranges_of(r), want);
  EXPECT_EQ(r.lowest, 0x1000u);
  EXPECT_EQ(r.highest, 0x63fffffffu);
}

TEST(RamRanges, UnprivilegedListHasZeroAddresses) {
  const RamRanges r = read_ram_ranges(testing::fixture("iomem/unprivileged.iomem"));
  EXPECT_EQ(r.count, 3);
  EXPECT_EQ(r.lowest, 0u);
  EXPECT_EQ(r.highest, 0u);
}

struct IomemCase {
  const char* name;
  std::string text;
  std::vector<Span> ranges;
};

TEST(RamRanges, LineRules) {
  const std::string long_name(600, 'x');
  const IomemCase cases[] = {
      {"empty file", "", {}},
      {"nested System RAM under another resource counts",
       "00000000-0fffffff : Reserved\n  00100000-001fffff : System RAM\n",
       {{0x100000, 0x1fffff}}},
      {"nested other resources are ignored",
       "00100000-bfffffff : System RAM\n  01000000-0225b13f : Kernel code\n",
       {{0x100000, 0xbfffffff}}},
      {"no colon", "00001000-00001fff System RAM\n", {}},
      {"no dash", "00001000 : System RAM\n", {}},
      {"System RAM only before the colon", "00001000-00001fff System RAM : Reserved\n", {}},
      {"different case", "00001000-00001fff : System Ram\n", {}},
      {"name containing System RAM counts",
       "00001000-00001fff : System RAM (hotplug)\n",
       {{0x1000, 0x1fff}}},
      {"not hexadecimal", "zz001000-00001fff : System RAM\n", {}},
      {"second number missing", "00001000- : System RAM\n", {}},
      {"dash not right after the first number", "00001000 -00001fff : System RAM\n", {}},
      {"leading sign refused", "-0001000-00001fff : System RAM\n", {}},
      {"number too large for 64 bits", "1ffffffffffffffff-2ffffffffffffffff : System RAM\n", {}},
      {"inverted range", "00002000-00001000 : System RAM\n", {}},
      {"0x prefix as %lx reads it", "0x1000-0x1fff : System RAM\n", {{0x1000, 0x1fff}}},
      {"last line without newline", "00001000-00001fff : System RAM", {{0x1000, 0x1fff}}},
      {"line longer than the buffer does not derail the next",
       "00001000-00001fff : " + long_name + " System RAM\n00003000-00003fff : System RAM\n",
       {{0x3000, 0x3fff}}},
      {"full 64-bit range", "0000000000000000-ffffffffffffffff : System RAM\n", {{0, UINT64_MAX}}},
  };
  TempDir dir;
  for (const IomemCase& c : cases) {
    const RamRanges r = read_ram_ranges(dir.write("iomem", c.text));
    EXPECT_EQ(ranges_of(r), c.ranges) << c.name;
    if (c.ranges.empty()) {
      EXPECT_EQ(r.lowest, 0u) << c.name;
      EXPECT_EQ(r.highest, 0u) << c.name;
    }
  }
}

TEST(RamRanges, MalformedListsStillGiveTheTrueRanges) {
  using namespace std::string_literals;
  // A line of 511 bytes and more whose tail, cut off at the 512-byte buffer,
  // reads like a line of its own.
  const std::string head = "00001000-00001fff : Reserved ";
  const std::string tail = "00005000-00005fff : System RAM\n";
  const std::string long_line = head + std::string(511 - head.size(), 'x') + tail;
  const IomemCase cases[] = {
      {"tail of a long line is no range", long_line + "00009000-00009fff : System RAM\n",
       {{0x9000, 0x9fff}}},
      {"NUL inside a line keeps the next line",
       "00001000-00001fff : Reserved\0\n00003000-00003fff : System RAM\n"s, {{0x3000, 0x3fff}}},
      {"NUL ends the text of its line", "00001000-00001fff :\0 System RAM\n"s, {}},
  };
  TempDir dir;
  for (const IomemCase& c : cases) {
    EXPECT_EQ(ranges_of(read_ram_ranges(dir.write("iomem", c.text))), c.ranges) << c.name;
  }
}

TEST(RamRanges, RangeToTheTopOfTheAddressSpaceStillPlacesFaultsOnTheMap) {
  // Lowest 0 to highest 2^64-1 would make the map span 2^64 bytes, which
  // wraps to 0 (and was then taken as a span of one byte: no cell but the
  // first could ever hold a fault).
  TempDir dir;
  auto run = testing::make_run();
  run->phys.ram_ranges = read_ram_ranges(dir.write(
      "iomem", "00000000-0009ffff : System RAM\n00100000-ffffffffffffffff : System RAM\n"));
  ASSERT_EQ(run->phys.ram_ranges.count, 2);
  EXPECT_EQ(run->phys.ram_ranges.entries[1].last, UINT64_MAX);  // the entry stays as listed
  run->st.phys_ok = 1;
  map_setup(run->map, run->phys.ram_ranges, run->st, 10, 1);
  EXPECT_EQ(run->map.logical, 0);
  EXPECT_GT(run->map.span, 1ull << 63);
  EXPECT_EQ(cell_of_phys(run->map, 0x100000000ull), 0);
  EXPECT_EQ(cell_of_phys(run->map, 0xf000000000000000ull), 9);
}

TEST(RamRanges, LowestAndHighestOverEntriesInAnyOrder) {
  TempDir dir;
  const RamRanges r = read_ram_ranges(dir.write("iomem",
                                                "00500000-005fffff : System RAM\n"
                                                "00100000-001fffff : System RAM\n"
                                                "00900000-009fffff : System RAM\n"
                                                "00300000-003fffff : System RAM\n"));
  EXPECT_EQ(r.count, 4);
  EXPECT_EQ(r.lowest, 0x100000u);
  EXPECT_EQ(r.highest, 0x9fffffu);
}

TEST(RamRanges, AtMost256AndBoundsCoverOnlyThose) {
  std::string text = "ff000000-ffffffff : Reserved\n";
  char line[80];
  for (int i = 0; i < 300; ++i) {
    // Range 256 onwards would lower the lowest and raise the highest.
    const uint64_t first = i < 256 ? 0x100000000ull + i * 0x100000ull : 0x1000ull + i;
    const uint64_t last = i < 256 ? first + 0xfffff : 0xfffffffffffull;
    snprintf(line, sizeof line, "%llx-%llx : System RAM\n", static_cast<unsigned long long>(first),
             static_cast<unsigned long long>(last));
    text += line;
  }
  TempDir dir;
  const RamRanges r = read_ram_ranges(dir.write("iomem", text));
  EXPECT_EQ(r.count, 256);
  EXPECT_EQ(r.lowest, 0x100000000u);
  EXPECT_EQ(r.highest, 0x100000000u + 255 * 0x100000u + 0xfffff);
}

TEST(RamRanges, MissingFileLeavesTheTableEmpty) {
  const RamRanges r = read_ram_ranges("/nonexistent/iomem");
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.lowest, 0u);
  EXPECT_EQ(r.highest, 0u);
}

TEST(RamRanges, IndexOfFirstRangeHoldingTheAddress) {
  RamRanges r;
  r.entries[0] = {0x1000, 0x1fff};
  r.entries[1] = {0x4000, 0x7fff};
  r.entries[2] = {0x5000, 0x5fff};  // overlaps entry 1: the first one wins
  r.count = 3;
  const struct {
    uint64_t paddr;
    int32_t index;
  } cases[] = {{0x0, -1},   {0xfff, -1}, {0x1000, 0}, {0x1fff, 0},  {0x2000, -1},    {0x3fff, -1},
               {0x4000, 1}, {0x5800, 1}, {0x7fff, 1}, {0x8000, -1}, {UINT64_MAX, -1}};
  for (const auto& c : cases)
    EXPECT_EQ(ram_range_index(r, c.paddr), c.index) << std::hex << c.paddr;
  EXPECT_EQ(ram_range_index(RamRanges{}, 0x1000), -1);
}

// A page map written by hand: entry i describes virtual page i.
TEST(PageMap, EntryDecoding) {
  TempDir dir;
  PhysMap pm;
  const uint64_t present = 1ull << 63;
  const uint64_t flags = (1ull << 62) | (1ull << 61) | (1ull << 55);  // swapped, file, soft-dirty
  const std::vector<uint64_t> entries{
      present | 0x1234,              // page 0
      0x1234,                        // page 1: not present
      present,                       // page 2: frame hidden (0)
      present | flags | 0xabcde,     // page 3: flag bits are not part of the frame
      present | ((1ull << 40) - 1),  // page 4: a wide frame
      present | ((1ull << 55) - 1),  // page 5: beyond any 64-bit address
  };
  std::string bytes(reinterpret_cast<const char*>(entries.data()), entries.size() * 8);
  bytes += "\x01\x02\x03";  // page 6: a short entry
  phys_setup(pm, dir.write("pagemap", bytes), dir.sub("no-iomem"));
  ASSERT_GE(pm.pagemap_fd, 0);
  const uint64_t ps = pm.page_size;
  EXPECT_EQ(ps, static_cast<uint64_t>(sysconf(_SC_PAGESIZE)));
  EXPECT_EQ(pm.ram_ranges.count, 0);

  EXPECT_EQ(virt_to_phys(pm, 0), 0x1234 * ps);
  EXPECT_EQ(virt_to_phys(pm, 0x10), 0x1234 * ps + 0x10);
  EXPECT_EQ(virt_to_phys(pm, ps - 1), 0x1234 * ps + ps - 1);
  EXPECT_EQ(virt_to_phys(pm, ps + 8), 0u);
  EXPECT_EQ(virt_to_phys(pm, 2 * ps), 0u);
  EXPECT_EQ(virt_to_phys(pm, 3 * ps + 0x40), 0xabcde * ps + 0x40);
  EXPECT_EQ(virt_to_phys(pm, 4 * ps + 1), ((1ull << 40) - 1) * ps + 1);
  EXPECT_EQ(virt_to_phys(pm, 5 * ps), 0u);
  EXPECT_EQ(virt_to_phys(pm, 6 * ps), 0u);
  EXPECT_EQ(virt_to_phys(pm, 100 * ps), 0u);

  phys_close(pm);
  EXPECT_EQ(pm.pagemap_fd, -1);
  EXPECT_EQ(virt_to_phys(pm, 0), 0u);
  phys_close(pm);  // closing twice is harmless
}

TEST(PageMap, UnopenablePageMapTranslatesNothing) {
  PhysMap pm;
  phys_setup(pm, "/nonexistent/pagemap", testing::fixture("iomem/three_ram_ranges.iomem"));
  EXPECT_EQ(pm.pagemap_fd, -1);
  EXPECT_EQ(pm.ram_ranges.count, 3);
  int word = 1;
  EXPECT_EQ(virt_to_phys(pm, reinterpret_cast<uint64_t>(&word)), 0u);
}

TEST(PageMap, RealTranslationKeepsTheOffsetAndSkipsUntouchedPages) {
  if (!testing::is_root()) GTEST_SKIP() << "frame numbers need root";
  PhysMap pm;
  phys_setup(pm);
  const uint64_t ps = pm.page_size;
  auto* p = static_cast<unsigned char*>(
      mmap(nullptr, 2 * ps, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(p, MAP_FAILED);
  p[0] = 0x51;  // back the first page only
  const uint64_t a = reinterpret_cast<uint64_t>(p);
  const uint64_t pa = virt_to_phys(pm, a);
  ASSERT_NE(pa, 0u);
  EXPECT_EQ(pa % ps, 0u);
  EXPECT_EQ(virt_to_phys(pm, a + 0x123), pa + 0x123);
  EXPECT_EQ(virt_to_phys(pm, a + ps - 8) / ps, pa / ps);
  EXPECT_NE(ram_range_index(pm.ram_ranges, pa), -1);
  EXPECT_EQ(virt_to_phys(pm, a + ps), 0u);  // mapped, never touched
  munmap(p, 2 * ps);

  // Locking backs every page of an arena region.
  ArenaRegion r = arena_alloc(8ull << 20);
  ASSERT_NE(r.base, nullptr);
  for (uint64_t off = 0; off < r.size; off += 64 * ps) {
    EXPECT_NE(virt_to_phys(pm, reinterpret_cast<uint64_t>(r.base) + off), 0u) << off;
  }
  arena_free(r);
  phys_close(pm);
}

TEST(PageMap, OrdinaryUserGetsNoTranslation) {
  if (!testing::is_root()) GTEST_SKIP() << "needs root to drop to nobody";
  const int status = testing::run_as_nobody([] {
    PhysMap pm;
    phys_setup(pm);
    static uint64_t words[4096];
    for (uint64_t& w : words) w = 0x5151;
    for (const uint64_t& w : words) {
      if (virt_to_phys(pm, reinterpret_cast<uint64_t>(&w)) != 0) return 1;
    }
    int on_stack = 1;
    if (virt_to_phys(pm, reinterpret_cast<uint64_t>(&on_stack)) != 0) return 2;
    phys_close(pm);
    return 0;
  });
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace dravik
