// Command-line behaviour: defaults, comparison order, conversions and the
// exit paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "support/test_support.h"

namespace dravik {
namespace {

struct Parsed {
  std::optional<int> code;
  RunConfig cfg;
  std::string out;
  std::string err;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "dravik");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Parsed p;
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  p.code = parse_command_line(static_cast<int>(argv.size()), argv.data(), p.cfg, out, err);
  for (auto [f, s] : {std::pair{out, &p.out}, std::pair{err, &p.err}}) {
    rewind(f);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s->append(buf, n);
    fclose(f);
  }
  return p;
}

TEST(CommandLine, NoArgumentsGivesTheDefaults) {
  const Parsed p = parse({});
  ASSERT_FALSE(p.code.has_value());
  EXPECT_EQ(p.cfg.mode, RunMode::PRODUCTION);
  EXPECT_EQ(p.cfg.output, OutputStyle::ui);
  EXPECT_EQ(p.cfg.tier, Tier::standard);
  EXPECT_EQ(chunk_bytes(p.cfg), 128ull << 20);
  EXPECT_EQ(reserve_bytes(p.cfg), 256ull << 20);
  EXPECT_EQ(p.cfg.passes, 1);
  EXPECT_EQ(p.cfg.hard_threshold, 2);
  EXPECT_EQ(p.cfg.use_phys, 1);
  EXPECT_EQ(p.cfg.klog_enabled, 1);
  EXPECT_NE(p.cfg.seed, 0u) << "an absent seed is derived";
}

TEST(CommandLine, RetentionMatchesOnElevenCharacters) {
  struct Case { const char* arg; int32_t seconds; } cases[] = {
      {"--retention", 600}, {"--retention=30", 30}, {"--retention=", 0},
      {"--retentionXYZ", 600}, {"--retention=abc", 0}};
  for (const Case& c : cases) {
    const Parsed p = parse({c.arg});
    ASSERT_FALSE(p.code.has_value()) << c.arg;
    EXPECT_EQ(p.cfg.retention_s, c.seconds) << c.arg;
  }
}

TEST(CommandLine, TierValuesAreCaseSensitive) {
  EXPECT_EQ(parse({"--tier", "quick"}).cfg.hcl_tier, HclTier::quick);
  EXPECT_EQ(parse({"--tier", "soak"}).cfg.hcl_tier, HclTier::soak);
  for (const char* v : {"standard", "foo", "Quick"}) {
    EXPECT_EQ(parse({"--tier", v}).cfg.hcl_tier, HclTier::standard) << v;
  }
  EXPECT_EQ(parse({"--setup-override", "mixed"}).cfg.setup_override, SetupOverride::mixed);
  EXPECT_EQ(parse({"--setup-override", "Uniform"}).cfg.setup_override, SetupOverride::none);
}

TEST(CommandLine, SeedTakesItsBaseFromThePrefix) {
  EXPECT_EQ(parse({"--seed", "0x10"}).cfg.seed, 16u);
  EXPECT_EQ(parse({"--seed", "010"}).cfg.seed, 8u);
  EXPECT_EQ(parse({"--seed", "12345"}).cfg.seed, 12345u);
  const Parsed zero = parse({"--seed", "0"});
  EXPECT_NE(zero.cfg.seed, 0u) << "0 leaves the seed to be derived";
}

TEST(CommandLine, SeedDerivationMixesTimeAndPid) {
  EXPECT_EQ(derive_seed(1, 0), (1ull << 16) ^ 0xA5A5A5A5ULL);
  EXPECT_EQ(derive_seed(0, 7), 7ull ^ 0xA5A5A5A5ULL);
  // A negative pid is sign-extended, never undefined.
  EXPECT_EQ(derive_seed(0, -1), ~0ull ^ 0xA5A5A5A5ULL);
}

TEST(CommandLine, MemSizesFollowTheUnitLetter) {
  struct Case { const char* text; uint64_t bytes; } cases[] = {
      {"512m", 536870912ull},   {"512M", 536870912ull}, {"0", 0},
      {"2X", 2},                {"1.5G", 1610612736ull}, {"4k", 4096},
      {"1T", 1099511627776ull}, {"junk", 0},             {"  64M", 64ull << 20},
      // Negative sizes cap nothing; sizes beyond 64 bits saturate; neither
      // is an undefined conversion.
      {"-1G", 0},               {"-0.5", 0},             {"1e30T", UINT64_MAX},
      {"inf", UINT64_MAX},      {"nan", 0},
      // 2^63 and above go through the upper half of the range, not clipped.
      {"9223372036854775808", 9223372036854775808ull},
      {"12E", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse({"--mem", c.text}).cfg.mem_cap, c.bytes) << c.text;
  }
}

TEST(CommandLine, NumbersFollowStrtolAndFieldDefaults) {
  EXPECT_LE(parse({"--passes", "0"}).cfg.passes, 0);
  EXPECT_LE(parse({"--passes", "-3"}).cfg.passes, 0);
  EXPECT_LE(parse({"--passes", "many"}).cfg.passes, 0) << "no number reads 0: unlimited";
  EXPECT_EQ(reserve_bytes(parse({"--reserve", "0"}).cfg), 0u);
  EXPECT_EQ(reserve_bytes(parse({"--reserve", "-7"}).cfg), 256ull << 20);
  EXPECT_EQ(parse({"--hard-threshold", "0"}).cfg.hard_threshold, 1);
  EXPECT_EQ(parse({"--hard-threshold", "-4"}).cfg.hard_threshold, 1);
  EXPECT_EQ(parse({"--chunk", "-5"}).cfg.chunk_mib, 128);
  EXPECT_EQ(parse({"--chunk", "abc"}).cfg.chunk_mib, 128);
  EXPECT_EQ(parse({"--threads", "x"}).cfg.threads, 0);
  EXPECT_EQ(parse({"--threads", "4"}).cfg.threads_given, 1);
  EXPECT_DOUBLE_EQ(parse({"--pass-pct", "72.5"}).cfg.pass_pct, 72.5);
  EXPECT_EQ(parse({"--fail-pct", "50"}).cfg.pct_given, 1);
  EXPECT_DOUBLE_EQ(parse({"--jedec-gbs", " 25.6"}).cfg.jedec_gbs, 25.6);
}

TEST(CommandLine, HugeChunkAndReserveSaturateInsteadOfOverflowing) {
  const Parsed chunk = parse({"--chunk", "99999999999999999999"});
  EXPECT_EQ(chunk_bytes(chunk.cfg), UINT64_MAX);
  const Parsed reserve = parse({"--reserve", "17592186044416"});  // 2^44 MiB = 2^64 bytes
  EXPECT_EQ(reserve_bytes(reserve.cfg), UINT64_MAX);
  EXPECT_EQ(mib_to_bytes(17592186044415), 17592186044415ull << 20);
}

TEST(CommandLine, LaterOptionsOverwriteEarlierOnes) {
  EXPECT_EQ(parse({"--quick", "--thorough"}).cfg.tier, Tier::thorough);
  EXPECT_EQ(parse({"--bench", "--full"}).cfg.mode, RunMode::OFFLINE);
  EXPECT_EQ(parse({"--json", "--ui2"}).cfg.output, OutputStyle::ui2);
  EXPECT_EQ(parse({"--no-phys", "--no-klog", "--strict", "--extended-tests", "--selftest"})
                .cfg.use_phys, 0);
}

TEST(CommandLine, UnknownOptionsEndWithStatusTwo) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"full"}, {"--Full"}, {"--duration"}, {"--mem"}, {"--quick", "-x"},
           {"--bogus", "--help"}, {"--metrics"}, {"--json", "--history"}}) {
    const Parsed p = parse(args);
    ASSERT_TRUE(p.code.has_value());
    EXPECT_EQ(*p.code, 2);
    EXPECT_EQ(p.err.rfind("unknown option: ", 0), 0u) << p.err;
    EXPECT_NE(p.out.find("Usage: dravik [options]"), std::string::npos);
  }
  EXPECT_EQ(parse({"--duration"}).err, "unknown option: --duration\n");
  EXPECT_EQ(parse({"--duration", "30"}).cfg.hcl_duration_s, 30);
}

TEST(CommandLine, QualificationFiguresMustBeFiniteAndSane) {
  for (const char* bad : {"--jedec-gbs 1e999", "--jedec-gbs nan", "--jedec-gbs 10000.1",
                          "--pass-pct 100.5", "--pass-pct -inf", "--fail-pct inf"}) {
    const std::string text = bad;
    const std::string option = text.substr(0, text.find(' ')), value = text.substr(text.find(' ') + 1);
    const Parsed p = parse({"--hcl", option, value});
    EXPECT_EQ(p.code.value_or(0), 2) << bad;
    EXPECT_EQ(p.err, "invalid value for " + option + ": " + value + "\n");
  }
  for (const char* fine : {"10000", "0", "-5"}) EXPECT_FALSE(parse({"--jedec-gbs", fine}).code.has_value());
  EXPECT_FALSE(parse({"--pass-pct", "100", "--fail-pct", "-1"}).code.has_value());
}

TEST(CommandLine, HelpAndVersionEndWithStatusZero) {
  const Parsed help = parse({"--help", "--bogus"});
  ASSERT_TRUE(help.code.has_value());
  EXPECT_EQ(*help.code, 0);
  EXPECT_TRUE(help.err.empty());
  const Parsed h = parse({"-h"});
  EXPECT_EQ(*h.code, 0);
  EXPECT_EQ(h.out, help.out);
  const Parsed version = parse({"--version"});
  EXPECT_EQ(*version.code, 0);
  EXPECT_EQ(version.out, "Dravik v0.6.0\n");
}

TEST(CommandLine, UsageTextHasItsFiftyFourLines) {
  const std::string out = parse({"--help"}).out;
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(out.substr(start, nl - start));
  }
  ASSERT_EQ(lines.size(), 54u);
  EXPECT_EQ(lines[0], "Dravik v0.6.0  --  trustworthy userspace RAM diagnostic");
  EXPECT_EQ(lines[1], "Usage: dravik [options]");
  EXPECT_EQ(lines[10], "                    (JEDEC >=80% pass / <60% fail, p99<=2.5x avg, 0 errors)");
  EXPECT_EQ(lines[53], "  --version, --help");
}

TEST(CommandLine, UsageTextIsWhole) {
  const std::string usage = R"(Dravik v0.6.0  --  trustworthy userspace RAM diagnostic
Usage: dravik [options]

Modes:
  (default)         Live/PRODUCTION mode: safe nibble-and-release on a busy box
  --full            Offline mode: test (almost) all free RAM
  --bench           Bandwidth + latency benchmark (no fault test)
  --hcl             HCL qualification: pinned-thread saturation sweep with
                    inline SIMD verification, P99 latency jitter, OLTP atomic
                    contention, EDAC/klog correlation and a strict verdict
                    (JEDEC >=80% pass / <60% fail, p99<=2.5x avg, 0 errors)
  --selftest        Fault-injection self check, then exit

Output (mutually exclusive):
  --ui              Boxed terminal UI (ASCII fallback, 16 colors)
  --ui2             Boxed terminal UI (nerd-font glyphs, 256 colors, animated)
  --json            Stream NDJSON events to stdout (mirrors --ui2 for web UI)

Test profiles (all now cover ALL free RAM -- pages are held, not recycled):
  --quick           Fast: random moving-inversion + checkerboard (ramdisk-
                    equivalent, reproduces a disk-filltest-on-tmpfs result)
  --standard        Curated default suite (low false-positive)
  --thorough        Add slow exhaustive patterns
  --extended-tests  Add memtester-style XOR/SUB/MUL/DIV/OR/AND/seqinc compares
  --retention[=SEC] Add opt-in bit-fade/retention test (default 600s)

Records (written at the end of every run, whatever its outcome):
  --metrics FILE    Replace FILE with the result as Prometheus text metrics
                    (for node-exporter's textfile collector)
  --history FILE    Append the result as one JSON line to FILE (last 1000 kept)
  --report FILE     Replace FILE with the run's report: one HTML page
  --report-from RUN Render the saved JSON lines of RUN into --report FILE;
                    tests nothing

Safety / tuning:
  --strict          Abort if memory cannot be mlock'd
  --reserve MB      Safety buffer to keep free (default 256; held live per-block)
  --chunk MB        Live block size (default 128)
  --max-pauses N    Live pause budget (default 3)
  --pause-timeout S Max seconds for one pause (default 120)
  --threads N       Parallel workers (--full; --hcl defaults to all cores)
  --duration S      --hcl saturation phase length (default 60)
  --jedec-gbs X     --hcl theoretical bandwidth override in GB/s (no-DMI boxes)
  --tier T          --hcl depth: quick (provisional, skips fade), standard, soak
  --pass-pct P      --hcl efficiency floor for PASS (platform table; default 80)
  --fail-pct P      --hcl efficiency floor below which FAIL (default 60)
  --setup-override V  test-only: force the eligibility gate (mixed|uniform)
  --passes N        Number of full sweeps (default 1, 0 = infinite)
  --mem SIZE        Cap test size (e.g. 2G, 512M)
  --seed HEX        PRNG seed for reproducible runs
  --hard-threshold N Repeats at one address to classify HARD (default 2)
  --no-phys         Disable physical-address mapping
  --no-klog         Disable kernel-log (dmesg) scanning
  --version, --help
)";
  EXPECT_EQ(parse({"--help"}).out, usage);
  EXPECT_EQ(testing::run_dravik({"--help"}).out,
            "Dravik v0.6.0  --  trustworthy userspace RAM diagnostic\nUsage: " + testing::dravik_binary() +
                usage.substr(usage.find(" [options]\n")));
}

TEST(CommandLine, RealBinaryExitStatuses) {
  using testing::run_dravik;
  const auto help = run_dravik({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage: " + testing::dravik_binary() + " [options]"), std::string::npos)
      << "the program path is printed unchanged";
  const auto version = run_dravik({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "Dravik v0.6.0\n");
  const auto unknown = run_dravik({"--frobnicate"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.err, "unknown option: --frobnicate\n");
  const auto last = run_dravik({"--quick", "--passes"});
  EXPECT_EQ(last.exit_code, 2);
  EXPECT_EQ(last.err, "unknown option: --passes\n");
}

}  // namespace
}  // namespace dravik
