// The self-test plants a one-bit error and must find it hard, reading back
// through the cache flush the machine was probed to support.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/flush.h"
#include "engine/drivers/selftest.h"
#include "support/test_support.h"

namespace dravik {
namespace {

std::string read_all(FILE* f) {
  std::string all;
  rewind(f);
  char buf[1024];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  return all;
}

TEST(SelfTest, ProbesTheFlushBeforeItReadsBack) {
  auto run = testing::make_run();
  ASSERT_EQ(run->clflush_usable, 0) << "a fresh run has not probed";
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  int32_t flushed = -1;
  EXPECT_EQ(run_selftest(run->paths, out, &flushed), 0);
  const std::string text = read_all(out);
  fclose(out);
  EXPECT_NE(text.find(" xor=0x0000000000000008 bits=1 class=HARD count=2\n  result: PASS\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(flushed, probe_clflush()) << "the read-back flush is the probed one";
}

}  // namespace
}  // namespace dravik
