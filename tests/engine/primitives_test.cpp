// Generators, text helpers and the test announce/progress calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "core/run/flags.h"
#include "app/run/run.h"
#include "engine/progress.h"
#include "core/prng/prng.h"
#include "core/text.h"
#include "support/test_support.h"

namespace dravik {
namespace {

TEST(Prng, ReferenceValues) {
  RandState rs;
  rand_seed(&rs, 0);
  EXPECT_EQ(rs.s0, 0x0D7D93560D1929D2ULL);
  EXPECT_EQ(rs.s1, 0x491DFB740E50D43FULL);
  EXPECT_EQ(rand_next(&rs), 0x3884B30D31272721ULL);

  rand_seed(&rs, 1);
  EXPECT_EQ(rs.s0, 0x910A2DEC89025CC1ULL);
  EXPECT_EQ(rs.s1, 0xBEEB8DA1658EEC67ULL);

  uint64_t state = 0;  // the published SplitMix64 stream from state 0
  EXPECT_EQ(splitmix_next(&state), 0xE220A8397B1DCDAFULL);
  EXPECT_EQ(splitmix_next(&state), 0x6E789E6AA1B965F4ULL);
  EXPECT_EQ(splitmix_next(&state), 0x06C45D188009454FULL);
}

TEST(Prng, SameSeedRegeneratesTheStreamOtherSeedsDiffer) {
  for (uint64_t seed : {0ULL, 1ULL, 0x1234567ULL, ~0ULL}) {
    RandState a, b, other;
    rand_seed(&a, seed);
    rand_seed(&b, seed);
    rand_seed(&other, seed + 1);
    int same_as_other = 0;
    for (int i = 0; i < 10000; ++i) {
      const uint64_t x = rand_next(&a);
      ASSERT_EQ(x, rand_next(&b)) << "seed " << seed << " step " << i;
      same_as_other += x == rand_next(&other);
    }
    EXPECT_LT(same_as_other, 2);
  }
}

TEST(Prng, TestSeedSignExtendsWindowAndPass) {
  const uint64_t base = 0xABCDEF0123456789ULL;
  EXPECT_EQ(test_seed(base, 0, 0), 0x9E3779B1ULL ^ base ^ 0x100000001B3ULL);
  // -1 sign-extends, so (W + 1) and (P + 1) are both 0.
  EXPECT_EQ(test_seed(base, -1, -1), base);
  EXPECT_EQ(test_seed(0, 1, 2), (2 * 0x9E3779B1ULL) ^ (3 * 0x100000001B3ULL));
  EXPECT_NE(test_seed(base, 3, 1), test_seed(base, 1, 3));
}

std::string size_text(uint64_t bytes, size_t cap = 32) {
  char buf[32];
  format_size(bytes, buf, cap);
  return buf;
}

TEST(FormatSize, UnitsOf1024) {
  const struct {
    uint64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0B"},
      {512, "512B"},
      {1023, "1023B"},
      {1024, "1.00KiB"},
      {1536, "1.50KiB"},
      {4096, "4.00KiB"},
      {44ULL << 20, "44.00MiB"},
      {1ULL << 30, "1.00GiB"},
      {1536ULL << 30, "1.50TiB"},
      {1ULL << 50, "1.00PiB"},
      {1ULL << 60, "1024.00PiB"},
      {UINT64_MAX, "16384.00PiB"},
  };
  for (const auto& c : cases) EXPECT_EQ(size_text(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(size_text(1024, 4), "1.0");  // bounded by the capacity
}

std::string hms(double seconds) {
  char buf[32];
  format_hms(buf, sizeof buf, seconds);
  return buf;
}

TEST(FormatHms, RoundsToTheSecondAndHoursAreUnbounded) {
  EXPECT_EQ(hms(0), "00:00:00");
  EXPECT_EQ(hms(59.4), "00:00:59");
  EXPECT_EQ(hms(3599.6), "01:00:00");
  EXPECT_EQ(hms(360000), "100:00:00");
  EXPECT_EQ(hms(std::nan("")), "00:00:00");
  EXPECT_EQ(hms(1e300), "00:00:00");
}

TEST(VisibleWidth, CountsCharactersNotBytesOrEscapes) {
  const struct {
    const char* text;
    unsigned width;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"\x1b[1;31m\x1b[0m", 0},
      {"\x1b[38;5;208mok\x1b[0m", 2},
      {"\xe2\x96\x88", 1},            // a three-byte character (full block)
      {"a\xc3\xa9\xf0\x9f\x98\x80", 3},  // one, two and four bytes
      {"\x1bx", 1},                   // ESC alone counts 0, the next byte is text
      {"ab\x1b[12", 2},               // an unterminated sequence runs to the end
  };
  for (const auto& c : cases) EXPECT_EQ(visible_width(c.text), c.width) << c.text;
}

std::string escaped(const std::string& src, size_t cap = 256) {
  std::vector<char> buf(cap + 1, '#');
  json_escape(src.c_str(), buf.data(), cap);
  EXPECT_EQ(buf[cap], '#') << "wrote past the capacity";
  return buf.data();
}

TEST(JsonEscape, EscapesQuotesBackslashesNewlinesAndDropsControls) {
  EXPECT_EQ(escaped("say \"hi\"\\now\n"), "say \\\"hi\\\"\\\\now\\n");
  EXPECT_EQ(escaped("a\tb\rc\x01"), "abc");
  EXPECT_EQ(escaped("ab", 3), "a");
  EXPECT_EQ(escaped("\"x", 3), "\\\"");
  EXPECT_EQ(escaped("x\"", 3), "x");  // the escape would not fit with the terminator
  EXPECT_EQ(escaped("caf\xc3\xa9"), "caf\xc3\xa9");
}

TEST(JsonEscape, MendsInvalidUtf8AndNeverCutsACharacter) {
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_EQ(escaped("a\xff" "b"), "a" + fffd + "b");
  EXPECT_EQ(escaped("\xc0\x80"), fffd + fffd);             // overlong form
  EXPECT_EQ(escaped("\xed\xa0\x80"), fffd + fffd + fffd);  // surrogate
  EXPECT_EQ(escaped("x\xe2\x82"), "x" + fffd);             // cut at the end of the text
  EXPECT_EQ(escaped("\xe2\x82\xac", 4), "\xe2\x82\xac");   // the euro sign just fits
  EXPECT_EQ(escaped("a\xe2\x82\xac", 4), "a");             // ... and is not cut
}

// Decodes strictly; true when text is well-formed UTF-8.
bool valid_utf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + static_cast<size_t>(len) > text.size()) return false;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    const uint32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<size_t>(len);
  }
  return true;
}

TEST(JsonEscape, RandomBytesAlwaysGiveBoundedValidUtf8) {
  RandState rs;
  rand_seed(&rs, 99);
  for (int round = 0; round < 2000; ++round) {
    std::string src;
    const int len = static_cast<int>(rand_next(&rs) % 300);
    for (int i = 0; i < len; ++i) {
      char c = static_cast<char>(rand_next(&rs) & 0xFF);
      src.push_back(c == 0 ? 'z' : c);
    }
    const size_t cap = 3 + rand_next(&rs) % 254;
    const std::string out = escaped(src, cap);
    ASSERT_LT(out.size(), cap);
    ASSERT_TRUE(valid_utf8(out)) << "round " << round;
    for (unsigned char c : out) ASSERT_GE(c, 0x20);
  }
}

int phase_events = 0;
void count_phases(void*, EventKind kind, const void*) {
  if (kind == EventKind::phase) ++phase_events;
}

TEST(BeginTest, ColourAdvancesOnlyWhenTheNameChanges) {
  auto run = testing::make_run();
  run->sink = EventSink{nullptr, count_phases};
  phase_events = 0;
  auto colour = [&] { return run->st.color_counter.load() & 3; };

  begin_test(*run, "stuck-addr");  // the first test: nothing to advance from
  EXPECT_EQ(colour(), 0);
  run->st.algo_pct = 55;
  begin_test(*run, "stuck-addr");
  EXPECT_EQ(colour(), 0);
  EXPECT_EQ(run->st.algo_pct.load(), 0);
  const char* names[] = {"solid0", "solid1", "movinv-rand", "checker", "solid0"};
  int expected[] = {1, 2, 3, 0, 1};
  for (int i = 0; i < 5; ++i) {
    begin_test(*run, names[i]);
    EXPECT_EQ(colour(), expected[i]) << names[i];
  }
  char name[24];
  current_test_name(run->st, name);
  EXPECT_STREQ(name, "solid0");
  EXPECT_EQ(phase_events, 7);  // one phase per start, repeated names included

  {
    testing::AsWorker worker;  // a worker announces silently
    begin_test(*run, "checker");
  }
  EXPECT_EQ(phase_events, 7);
  EXPECT_EQ(colour(), 2);
}

TEST(BeginTest, LongNamesAreCutTo23Characters) {
  auto run = testing::make_run();
  begin_test(*run, "an-algorithm-name-longer-than-the-field");
  char name[24];
  current_test_name(run->st, name);
  EXPECT_STREQ(name, "an-algorithm-name-longe");
}

TEST(TestProgress, StoresTheRoundedClampedPercentage) {
  auto run = testing::make_run();
  reset_process_flags();
  const struct {
    double pct;
    int32_t stored;
  } cases[] = {{-5, 0},    {0, 0},     {42.49, 42}, {42.5, 43},
               {99.5, 100}, {100.4, 100}, {1e300, 100}, {-1e300, 0},
               {std::nan(""), 0}, {std::numeric_limits<double>::infinity(), 100}};
  testing::AsWorker worker;  // the worker path: no UI tick, returns at once when not paused
  for (const auto& c : cases) {
    test_progress(*run, c.pct);
    EXPECT_EQ(run->st.algo_pct.load(), c.stored) << c.pct;
  }
}

TEST(TestProgressThreads, AWorkerWaitsOutThePauseUnlessStopping) {
  auto run = testing::make_run();
  reset_process_flags();
  pause_requested = 1;
  std::atomic<int> returned{0};
  std::thread worker([&] {
    in_worker = 1;
    test_progress(*run, 10);
    returned = 1;
  });
  usleep(400000);  // a window in which the worker must not return
  EXPECT_EQ(returned.load(), 0) << "returned while paused";
  pause_requested = 0;
  worker.join();
  EXPECT_EQ(returned.load(), 1);

  pause_requested = 1;
  stop_requested = 1;  // a stop releases a paused worker
  std::thread stopping_worker([&] {
    in_worker = 1;
    test_progress(*run, 20);
  });
  stopping_worker.join();
  reset_process_flags();
}

}  // namespace
}  // namespace dravik
