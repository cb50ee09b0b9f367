#include "engine/faults/fault_log.h"
#include "engine/record_fault.h"
#include "memory/address/dimm_label.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/run/flags.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::TempDir;

// Counts the fault events that reach the sink and keeps the last payload.
struct SinkSpy {
  int faults = 0;
  FaultRecord last{};
};
SinkSpy g_spy;

void spy_emit(void*, EventKind kind, const void* payload) {
  if (kind != EventKind::fault || payload == nullptr) return;
  g_spy.faults += 1;
  g_spy.last = *static_cast<const FaultRecord*>(payload);
}
const EventSink kSpySink{nullptr, spy_emit};

// A run with a logical map of 30 cells over a 30 MiB budget and a block of
// words under test.
struct Bench {
  std::unique_ptr<Run> run = testing::make_run();
  std::vector<uint64_t> words;
  TestBlock block;

  explicit Bench(size_t n = 64, int32_t pass = 1) : words(n, 0) {
    g_spy = SinkSpy{};
    run->sink = kSpySink;
    run->cfg.use_phys = 0;
    run->st.budget = 30ull << 20;
    map_setup(run->map, run->phys.ram_ranges, run->st, 10, 3);
    block = TestBlock{words.data(), words.size(), pass};
  }
  // A test saw actual instead of expected at index; the word in memory
  // still holds actual when the defect persists, expected when it healed.
  void sight(uint64_t index, uint64_t expected, uint64_t actual, bool persistent,
             const char* test = "solid0") {
    words[index] = persistent ? actual : expected;
    record_fault(*run, block, index, expected, actual, test);
  }
  const FaultLog& log() const { return run->faults; }
};

struct Step {
  bool persistent;
  int64_t hard, transient;
  int32_t count;
  FaultClass cls;
  uint8_t mark;
};
struct ClassCase {
  const char* name;
  int32_t threshold;
  std::vector<Step> steps;
};

constexpr auto T = FaultClass::transient;
constexpr auto H = FaultClass::hard;

TEST(FaultLog, ClassificationBySightingsAndReread) {
  const ClassCase cases[] = {
      {"default threshold: transient, then hard at the second sighting",
       2,
       {{true, 0, 1, 1, T, 8}, {true, 1, 0, 2, H, 7}, {true, 1, 0, 3, H, 7}}},
      {"default threshold ignores the re-read",
       2,
       {{false, 0, 1, 1, T, 8}, {false, 1, 0, 2, H, 7}}},
      {"threshold 1, word stays wrong: hard at once",
       1,
       {{true, 1, 0, 1, H, 7}, {true, 1, 0, 2, H, 7}}},
      {"threshold 1, word healed: transient, then hard",
       1,
       {{false, 0, 1, 1, T, 8}, {false, 1, 0, 2, H, 7}}},
      {"threshold 0 behaves as 1", 0, {{true, 1, 0, 1, H, 7}}},
      {"threshold 3", 3, {{true, 0, 1, 1, T, 8}, {true, 0, 1, 2, T, 8}, {true, 1, 0, 3, H, 7}}},
  };
  for (const ClassCase& c : cases) {
    Bench b;
    b.run->cfg.hard_threshold = c.threshold;
    int n = 0;
    for (const Step& s : c.steps) {
      ++n;
      b.sight(5, 0, 1ull << 9, s.persistent);
      const FaultLog& log = b.log();
      ASSERT_EQ(log.used, 1) << c.name;
      EXPECT_EQ(log.hard, s.hard) << c.name << " sighting " << n;
      EXPECT_EQ(log.transient, s.transient) << c.name << " sighting " << n;
      EXPECT_EQ(log.shown_hard.load(), s.hard) << c.name << " sighting " << n;
      EXPECT_EQ(log.shown_transient.load(), s.transient) << c.name << " sighting " << n;
      EXPECT_EQ(log.total.load(), n) << c.name;
      EXPECT_EQ(log.records[0].count, s.count) << c.name << " sighting " << n;
      EXPECT_EQ(log.records[0].cls, s.cls) << c.name << " sighting " << n;
      EXPECT_EQ(b.run->map.get(0), s.mark) << c.name << " sighting " << n;
      EXPECT_EQ(g_spy.faults, n) << c.name;
      EXPECT_EQ(g_spy.last.count, s.count) << c.name;
      EXPECT_EQ(g_spy.last.cls, s.cls) << c.name;
    }
  }
}

TEST(FaultLog, FirstSightingFillsTheRecord) {
  Bench b(64, 4);
  b.run->st.run_start_time -= 2.0;
  b.sight(17, 0xffffffffffffffffull, 0xfffffffffffffff0ull, true,
          "a-test-name-much-longer-than-23-characters");
  const FaultRecord& r = b.log().records[0];
  EXPECT_EQ(r.vaddr, reinterpret_cast<uint64_t>(b.words.data()) + 8 * 17);
  EXPECT_STREQ(r.test, "a-test-name-much-longer");
  EXPECT_EQ(r.pass, 4);
  EXPECT_EQ(r.paddr, 0u);
  EXPECT_EQ(r.region, -1);
  EXPECT_STREQ(r.dimm, "");
  EXPECT_EQ(r.expected, 0xffffffffffffffffull);
  EXPECT_EQ(r.actual, 0xfffffffffffffff0ull);
  EXPECT_EQ(r.xor_value, 0xfull);
  EXPECT_EQ(r.bits, 4);
  EXPECT_GE(r.ts, 2.0);
  EXPECT_LT(r.ts, 60.0);
  EXPECT_EQ(std::string(g_spy.last.test), r.test);
  EXPECT_EQ(g_spy.last.vaddr, r.vaddr);
}

TEST(FaultLog, LaterSightingsUpdateOneRecord) {
  Bench b;
  b.sight(3, 0x0, 0x1, true, "solid0");
  TestBlock later = b.block;
  later.pass = 2;
  b.words[3] = 0xfffffffffffffffbull;
  record_fault(*b.run, later, 3, ~0ull, 0xfffffffffffffffbull, "movinv-rand");
  ASSERT_EQ(b.log().used, 1);
  const FaultRecord& r = b.log().records[0];
  EXPECT_STREQ(r.test, "solid0");
  EXPECT_EQ(r.pass, 1);
  EXPECT_EQ(r.expected, 0x0u);
  EXPECT_EQ(r.actual, 0xfffffffffffffffbull);
  EXPECT_EQ(r.xor_value, 0x4u);
  EXPECT_EQ(r.bits, 1);
  EXPECT_EQ(r.count, 2);
}

TEST(FaultLog, FullTableChangesOnlyTheTotal) {
  Bench b(FaultLog::kCapacity + 1);
  for (uint64_t i = 0; i < FaultLog::kCapacity; ++i) b.sight(i, 0, 1, true);
  ASSERT_EQ(b.log().used, FaultLog::kCapacity);
  ASSERT_EQ(b.log().transient, FaultLog::kCapacity);
  const int events = g_spy.faults;
  b.run->map.put(0, 1);

  b.sight(FaultLog::kCapacity, 0, 1, true);  // the 4097th address
  EXPECT_EQ(b.log().used, FaultLog::kCapacity);
  EXPECT_EQ(b.log().total.load(), FaultLog::kCapacity + 1);
  EXPECT_EQ(b.log().transient, FaultLog::kCapacity);
  EXPECT_EQ(b.log().hard, 0);
  EXPECT_EQ(g_spy.faults, events);
  EXPECT_EQ(b.run->map.get(0), 8);  // the suspect mark is still made

  b.sight(0, 0, 1, true);  // a known address is still followed
  EXPECT_EQ(b.log().hard, 1);
  EXPECT_EQ(b.log().records[0].count, 2);
  EXPECT_EQ(g_spy.faults, events + 1);
}

TEST(FaultLog, MapMarksKeepTheirPriority) {
  Bench b;
  b.run->cfg.hard_threshold = 1;
  b.sight(1, 0, 1, true);   // hard: cell 0 becomes 7
  b.sight(2, 0, 1, false);  // a new transient in the same cell leaves 7
  EXPECT_EQ(b.run->map.get(0), 7);

  b.run->st.pass_bytes.store(b.run->st.budget / 2);
  b.sight(3, 0, 1, false);  // transient halfway through the pass: cell 15
  EXPECT_EQ(b.run->map.get(15), 8);
  b.sight(3, 0, 1, false);  // promoted at its second sighting
  EXPECT_EQ(b.run->map.get(15), 7);

  b.run->st.pass_bytes.store(b.run->st.budget * 3);  // past the budget: last cell
  b.sight(4, 0, 1, false);
  EXPECT_EQ(b.run->map.get(29), 8);
}

// A page map that translates exactly one virtual page to frame: a sparse
// file with one entry at the page's offset.
std::string fake_pagemap(const TempDir& dir, uint64_t vaddr, uint64_t frame) {
  const std::string path = dir.write("pagemap", "");
  const int fd = open(path.c_str(), O_WRONLY);
  const uint64_t entry = (1ull << 63) | frame;
  const uint64_t page = vaddr / system_page_size();
  EXPECT_EQ(pwrite(fd, &entry, 8, static_cast<off_t>(page * 8)), 8);
  close(fd);
  return path;
}

// Word 0 of the bench translates to 0x100000000 + its offset in the page,
// inside range 1 of the fixture list.
void translate_word0(Bench& b, const TempDir& dir) {
  const uint64_t addr = reinterpret_cast<uint64_t>(b.words.data());
  phys_setup(b.run->phys, fake_pagemap(dir, addr, 0x100000000ull / system_page_size()),
             testing::fixture("iomem/three_ram_ranges.iomem"));
  b.run->cfg.use_phys = 1;
}

struct LabelCase {
  const char* name;
  std::map<std::string, std::string> files;  // relative to the mc directory
  const char* label;
};

TEST(FaultLog, DimmLabelOnlyWhenUnambiguous) {
  const LabelCase cases[] = {
      {"no EDAC", {}, ""},
      {"one labelled module",
       {{"mc0/dimm0/dimm_label", "CPU_SrcID#0_Ha#0_Chan#0_DIMM#0\n"}},
       "CPU_SrcID#0_Ha#0_Chan#0_DIMM#0"},
      {"blank entries do not count",
       {{"mc0/dimm0/dimm_label", " \n"},
        {"mc0/dimm1/dimm_label", ""},
        {"mc3/dimm31/dimm_label", "DIMM_B2 \t\n\n"}},
       "DIMM_B2"},
      {"the same label repeated",
       {{"mc0/dimm0/dimm_label", "SODIMM\n"}, {"mc1/dimm4/dimm_label", "SODIMM\n"}},
       "SODIMM"},
      {"two modules: no guess",
       {{"mc0/dimm0/dimm_label", "DIMM_A1\n"}, {"mc0/dimm1/dimm_label", "DIMM_A2\n"}},
       ""},
      {"two modules on different controllers",
       {{"mc0/dimm0/dimm_label", "DIMM_A1\n"}, {"mc7/dimm31/dimm_label", "DIMM_H8\n"}},
       ""},
      {"outside the searched slots",
       {{"mc8/dimm0/dimm_label", "X\n"}, {"mc0/dimm32/dimm_label", "Y\n"}},
       ""},
      {"long label cut to 39 characters",
       {{"mc0/dimm0/dimm_label", std::string(50, 'L') + "\n"}},
       "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL"},
  };
  for (const LabelCase& c : cases) {
    Bench b;
    TempDir dir;
    for (const auto& [rel, text] : c.files) dir.write("mc/" + rel, text);
    // What start-up reads once, every physically placed record carries.
    unambiguous_dimm_label(dir.sub("mc"), b.run->faults.dimm_label);
    translate_word0(b, dir);
    b.sight(0, 0, 1, true);
    const FaultRecord& r = b.log().records[0];
    EXPECT_NE(r.paddr, 0u) << c.name;
    EXPECT_STREQ(r.dimm, c.label) << c.name;
    phys_close(b.run->phys);
  }
}

TEST(FaultLog, PhysicalAddressRangeAndCell) {
  Bench b;
  TempDir dir;
  dir.write("mc/mc0/dimm0/dimm_label", "DIMM_A1\n");
  unambiguous_dimm_label(dir.sub("mc"), b.run->faults.dimm_label);
  translate_word0(b, dir);
  const uint64_t offset = reinterpret_cast<uint64_t>(b.words.data()) % b.run->phys.page_size;

  b.sight(0, 0, 1, true);
  const FaultRecord& r = b.log().records[0];
  EXPECT_EQ(r.paddr, 0x100000000ull + offset);
  EXPECT_EQ(r.region, 2);
  EXPECT_STREQ(r.dimm, "DIMM_A1");
  // The map is logical (no working translation at set-up): the physical
  // address must not index it; the mark follows the pass progress.
  EXPECT_EQ(b.run->map.logical, 1);
  EXPECT_EQ(b.run->map.get(0), 8);
  for (int32_t i = 1; i < b.run->map.cells; ++i) EXPECT_EQ(b.run->map.get(i), 1) << i;

  // In physical map mode the mark lands on the cell of the address.
  b.run->st.phys_ok = 1;
  map_setup(b.run->map, b.run->phys.ram_ranges, b.run->st, 10, 3);
  b.sight(0, 0, 1, true);
  const int32_t cell = cell_of_phys(b.run->map, r.paddr);
  ASSERT_GT(cell, 0);
  EXPECT_EQ(b.run->map.get(cell), 7);
  EXPECT_EQ(b.run->map.get(0), 1);

  // --no-phys: nothing is translated, even where the page map could.
  b.run->cfg.use_phys = 0;
  b.sight(1, 0, 1, true);
  const FaultRecord& off = b.log().records[1];
  EXPECT_EQ(off.paddr, 0u);
  EXPECT_EQ(off.region, -1);
  EXPECT_STREQ(off.dimm, "");
  phys_close(b.run->phys);
}

// Points the virtual page of vaddr at frame in a page map written by
// fake_pagemap (the run's descriptor sees the change at its next read).
void map_page(const std::string& pagemap, uint64_t vaddr, uint64_t frame) {
  const int fd = open(pagemap.c_str(), O_WRONLY);
  const uint64_t entry = (1ull << 63) | frame;
  EXPECT_EQ(pwrite(fd, &entry, 8, static_cast<off_t>(vaddr / system_page_size() * 8)), 8);
  close(fd);
}

// A later pass may put a virtual address on another frame: two cells, two
// records, neither hard after one sighting each.
TEST(FaultLog, TheSameVirtualAddressOnTwoFramesIsTwoCells) {
  Bench b;
  TempDir dir;
  const uint64_t addr = reinterpret_cast<uint64_t>(&b.words[5]);
  const std::string pagemap = fake_pagemap(dir, addr, 0x100000);
  phys_setup(b.run->phys, pagemap, testing::fixture("iomem/three_ram_ranges.iomem"));
  b.run->cfg.use_phys = 1;

  b.sight(5, 0, 1, true);
  map_page(pagemap, addr, 0x100001);
  b.sight(5, 0, 1, true);

  const FaultLog& log = b.log();
  ASSERT_EQ(log.used, 2);
  EXPECT_EQ(log.records[0].vaddr, addr);
  EXPECT_EQ(log.records[1].vaddr, addr);
  EXPECT_EQ(log.records[1].paddr - log.records[0].paddr, system_page_size());
  EXPECT_EQ(log.hard, 0);
  EXPECT_EQ(log.transient, 2);
  EXPECT_EQ(log.records[0].count, 1);
  EXPECT_EQ(log.records[1].count, 1);
  phys_close(b.run->phys);
}

// One bad cell met under two virtual addresses (the same frame mapped at two
// pages) is one record: it turns hard at the threshold and keeps the first
// virtual address.
TEST(FaultLog, OneFrameAtTwoVirtualAddressesIsOneCell) {
  for (const int32_t threshold : {2, 3}) {
    Bench b(2 * system_page_size() / 8);
    TempDir dir;
    const uint64_t words_per_page = system_page_size() / 8;
    const uint64_t first = reinterpret_cast<uint64_t>(&b.words[3]);
    const uint64_t second = reinterpret_cast<uint64_t>(&b.words[3 + words_per_page]);
    const std::string pagemap = fake_pagemap(dir, first, 0x100000);
    map_page(pagemap, second, 0x100000);
    phys_setup(b.run->phys, pagemap, testing::fixture("iomem/three_ram_ranges.iomem"));
    b.run->cfg.use_phys = 1;
    b.run->cfg.hard_threshold = threshold;

    for (int32_t seen = 1; seen <= threshold; ++seen) {
      b.sight(seen % 2 == 1 ? 3 : 3 + words_per_page, 0, 1, true);
      const FaultLog& log = b.log();
      ASSERT_EQ(log.used, 1) << "threshold " << threshold << " sighting " << seen;
      EXPECT_EQ(log.records[0].count, seen);
      EXPECT_EQ(log.records[0].cls, seen < threshold ? FaultClass::transient : FaultClass::hard)
          << "threshold " << threshold << " sighting " << seen;
      EXPECT_EQ(log.hard, seen < threshold ? 0 : 1);
    }
    EXPECT_EQ(b.log().records[0].vaddr, first);
    EXPECT_EQ(b.log().records[0].paddr, 0x100000 * system_page_size() + first % system_page_size());
    phys_close(b.run->phys);
  }
}

TEST(FaultLog, OnlyTheMainThreadEmitsFaultEvents) {
  Bench b;
  std::thread worker([&] {
    in_worker = 1;
    b.sight(7, 0, 1, true);
    b.sight(7, 0, 1, true);
  });
  worker.join();
  EXPECT_EQ(g_spy.faults, 0);
  EXPECT_EQ(b.log().hard, 1);

  b.sight(8, 0, 1, true);
  EXPECT_EQ(g_spy.faults, 1);
  EXPECT_EQ(g_spy.last.vaddr, reinterpret_cast<uint64_t>(&b.words[8]));
}

TEST(FaultLog, SnapshotCopiesRecordsInOrder) {
  Bench b;
  for (uint64_t i = 0; i < 5; ++i) b.sight(i, 0, i + 1, true);
  FaultRecord out[8];
  EXPECT_EQ(snapshot_faults(b.log(), out, 3), 3);
  EXPECT_EQ(out[2].actual, 3u);
  EXPECT_EQ(snapshot_faults(b.log(), out, 8), 5);
  EXPECT_EQ(out[4].actual, 5u);
  EXPECT_EQ(snapshot_faults(b.log(), out, 0), 0);
  EXPECT_EQ(snapshot_faults(b.log(), nullptr, 8), 0);
}

TEST(FaultLogThreads, ConcurrentRecordingKeepsConsistentCounts) {
  constexpr int kThreads = 4, kOwn = 200, kShared = 16, kRounds = 3;
  Bench b(kShared);
  std::vector<std::vector<uint64_t>> own(kThreads, std::vector<uint64_t>(kOwn, 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      in_worker = 1;
      const TestBlock mine{own[t].data(), own[t].size(), 1};
      for (int round = 0; round < kRounds; ++round) {
        for (uint64_t i = 0; i < kShared; ++i) record_fault(*b.run, b.block, i, 1, 0, "shared");
        if (round == 0) {
          for (uint64_t i = 0; i < kOwn; ++i) record_fault(*b.run, mine, i, 1, 0, "own");
        }
      }
    });
  }
  // The main thread keeps reading and rebuilding the map meanwhile.
  FaultRecord snap[64];
  for (int i = 0; i < 50; ++i) {
    snapshot_faults(b.log(), snap, 64);
    map_setup(b.run->map, b.run->phys.ram_ranges, b.run->st, 10 + i % 5, 3);
  }
  for (std::thread& th : threads) th.join();

  const FaultLog& log = b.log();
  EXPECT_EQ(log.used, kShared + kThreads * kOwn);
  EXPECT_EQ(log.total.load(), kThreads * (kOwn + kShared * kRounds));
  EXPECT_EQ(log.hard, kShared);
  EXPECT_EQ(log.transient, kThreads * kOwn);
  EXPECT_EQ(log.shown_hard.load(), kShared);
  EXPECT_EQ(log.shown_transient.load(), kThreads * kOwn);
  int64_t sightings = 0;
  for (int32_t i = 0; i < log.used; ++i) {
    const FaultRecord& r = log.records[i];
    sightings += r.count;
    EXPECT_EQ(r.count, std::string(r.test) == "shared" ? kThreads * kRounds : 1) << i;
  }
  EXPECT_EQ(sightings, log.total.load());
  EXPECT_EQ(g_spy.faults, 0);
}

}  // namespace
}  // namespace dravik
