// Command-line behaviour: defaults, comparison order, conversions and the
// exit paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline/cmdline.h"
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
  EXPECT_EQ(p.cfg.output, OutputStyle::ascii_dashboard);
  EXPECT_EQ(p.cfg.tier, PatternTier::standard);
  EXPECT_EQ(chunk_bytes(p.cfg), 128ull << 20);
  EXPECT_EQ(reserve_bytes(p.cfg), 256ull << 20);
  EXPECT_EQ(p.cfg.passes, 1);
  EXPECT_EQ(p.cfg.hard_threshold, 2);
  EXPECT_EQ(p.cfg.use_phys, 1);
  EXPECT_EQ(p.cfg.klog_enabled, 1);
  EXPECT_NE(p.cfg.seed, 0u) << "an absent seed is derived";
}

TEST(CommandLine, RetentionTakesItsSecondsAfterAnEqualsSign) {
  struct Case { const char* arg; int32_t seconds; } cases[] = {
      {"--retention", 600}, {"--retention=30", 30}, {"--retention=0", 0}};
  for (const Case& c : cases) {
    const Parsed p = parse({c.arg});
    ASSERT_FALSE(p.code.has_value()) << c.arg;
    EXPECT_EQ(p.cfg.retention_s, c.seconds) << c.arg;
  }
}

TEST(CommandLine, TierValuesAreCaseSensitive) {
  EXPECT_EQ(parse({"--tier", "quick"}).cfg.hcl_tier, HclTier::quick);
  EXPECT_EQ(parse({"--tier", "soak"}).cfg.hcl_tier, HclTier::soak);
  EXPECT_EQ(parse({"--tier", "standard"}).cfg.hcl_tier, HclTier::standard);
  EXPECT_EQ(parse({"--setup-override", "mixed"}).cfg.setup_override, SetupOverride::mixed);
  EXPECT_EQ(parse({"--setup-override", "uniform"}).cfg.setup_override, SetupOverride::uniform);
  EXPECT_EQ(parse({"--tier", "Quick"}).code.value_or(0), 2);
  EXPECT_EQ(parse({"--setup-override", "Uniform"}).code.value_or(0), 2);
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
      {"1.5G", 1610612736ull},  {"4k", 4096},           {"1T", 1099511627776ull},
      {"  64M", 64ull << 20},
      // 2^63 and above go through the upper half of the range, not clipped.
      {"9223372036854775808", 9223372036854775808ull},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse({"--mem", c.text}).cfg.mem_cap, c.bytes) << c.text;
  }
}

TEST(CommandLine, NumbersFollowStrtolAndFieldDefaults) {
  EXPECT_LE(parse({"--passes", "0"}).cfg.passes, 0);
  EXPECT_LE(parse({"--passes", "-3"}).cfg.passes, 0);
  EXPECT_EQ(reserve_bytes(parse({"--reserve", "0"}).cfg), 0u);
  EXPECT_EQ(reserve_bytes(parse({"--reserve", "-7"}).cfg), 256ull << 20);
  EXPECT_EQ(parse({"--hard-threshold", "0"}).cfg.hard_threshold, 1);
  EXPECT_EQ(parse({"--hard-threshold", "-4"}).cfg.hard_threshold, 1);
  EXPECT_EQ(parse({"--chunk", "-5"}).cfg.chunk_mib, 128);
  EXPECT_EQ(parse({"--threads", "4"}).cfg.threads_given, 1);
  EXPECT_DOUBLE_EQ(parse({"--pass-pct", "72.5"}).cfg.pass_pct, 72.5);
  EXPECT_EQ(parse({"--fail-pct", "50"}).cfg.pct_given, 1);
  EXPECT_DOUBLE_EQ(parse({"--jedec-gbs", " 25.6"}).cfg.jedec_gbs, 25.6);
}

TEST(CommandLine, HugeChunkAndReserveSaturateInsteadOfOverflowing) {
  const Parsed chunk = parse({"--chunk", "9223372036854775807"});
  EXPECT_EQ(chunk_bytes(chunk.cfg), UINT64_MAX);
  const Parsed reserve = parse({"--reserve", "17592186044416"});  // 2^44 MiB = 2^64 bytes
  EXPECT_EQ(reserve_bytes(reserve.cfg), UINT64_MAX);
  EXPECT_EQ(mib_to_bytes(17592186044415), 17592186044415ull << 20);
}

// The fields the value table looks at, as text.
std::string field(const RunConfig& c, const std::string& name) {
  if (name == "mem_cap") return std::to_string(c.mem_cap);
  if (name == "seed") return std::to_string(c.seed);
  if (name == "passes") return std::to_string(c.passes);
  if (name == "reserve_mib") return std::to_string(c.reserve_mib);
  if (name == "chunk_mib") return std::to_string(c.chunk_mib);
  if (name == "threads") return std::to_string(c.threads);
  if (name == "hcl_duration_s") return std::to_string(c.hcl_duration_s);
  if (name == "hard_threshold") return std::to_string(c.hard_threshold);
  if (name == "max_pauses") return std::to_string(c.max_pauses);
  if (name == "retention_s") return std::to_string(c.retention_s);
  if (name == "hcl_tier") return std::to_string(static_cast<int>(c.hcl_tier));
  if (name == "setup_override") return std::to_string(static_cast<int>(c.setup_override));
  if (name == "metrics_path") return c.metrics_path;
  if (name == "history_path") return c.history_path;
  if (name == "jedec_gbs") return std::to_string(c.jedec_gbs);
  ADD_FAILURE() << "no field " << name;
  return {};
}

// A row is kept (the field reads `expect`) or refused (exit 2 and `expect` is
// the whole of standard error).
struct ValueRow {
  std::vector<std::string> args;
  const char* field;  // nullptr: refused
  std::string expect;
};

std::vector<ValueRow> value_rows() {
  const std::string page = std::to_string(sysconf(_SC_PAGESIZE));
  const std::string below_page = std::to_string(sysconf(_SC_PAGESIZE) - 1);
  auto refused = [](std::vector<std::string> args, std::string hint = {}) {
    std::string err = "invalid value for " + args[0] + ": " + args[1] + "\n";
    if (!hint.empty()) err += "  (" + hint + ")\n";
    return ValueRow{std::move(args), nullptr, err};
  };
  return {
      // What the conversions read whole keeps its meaning.
      {{"--mem", "512M"}, "mem_cap", "536870912"},
      {{"--mem", "2G"}, "mem_cap", "2147483648"},
      {{"--mem", "0"}, "mem_cap", "0"},
      {{"--mem", page}, "mem_cap", page},
      {{"--mem", "0x1p20"}, "mem_cap", "1048576"},
      {{"--mem", "18446744073709549568"}, "mem_cap", "18446744073709549568"},  // largest double below 2^64
      {{"--seed", "0x10"}, "seed", "16"},
      {{"--seed", "10"}, "seed", "10"},
      {{"--seed", "010"}, "seed", "8"},
      {{"--seed", "0xFFFFFFFFFFFFFFFF"}, "seed", "18446744073709551615"},
      {{"--passes", "0"}, "passes", "0"},
      {{"--passes", "-1"}, "passes", "-1"},
      {{"--passes", "+3"}, "passes", "3"},
      {{"--reserve", "0"}, "reserve_mib", "0"},
      {{"--reserve", "-7"}, "reserve_mib", "-7"},
      {{"--chunk", "0"}, "chunk_mib", "128"},
      {{"--hard-threshold", "-4"}, "hard_threshold", "1"},
      {{"--hard-threshold", "2147483647"}, "hard_threshold", "2147483647"},
      {{"--threads", "0"}, "threads", "0"},
      {{"--threads", "1000"}, "threads", "1000"},
      {{"--duration", "2147483647"}, "hcl_duration_s", "2147483647"},
      {{"--max-pauses", "-1"}, "max_pauses", "-1"},
      {{"--retention"}, "retention_s", "600"},
      {{"--retention=45"}, "retention_s", "45"},
      {{"--tier", "soak"}, "hcl_tier", "2"},
      {{"--setup-override", "uniform"}, "setup_override", "2"},
      {{"--metrics", "./-x.prom"}, "metrics_path", "./-x.prom"},
      {{"--history", "h.jsonl"}, "history_path", "h.jsonl"},
      {{"--jedec-gbs", "25.6"}, "jedec_gbs", "25.600000"},
      // No number.
      refused({"--mem", "abc"}),
      refused({"--mem", ""}),
      refused({"--reserve", "abc"}),
      refused({"--passes", "abc"}),
      refused({"--chunk", "abc"}),
      refused({"--threads", "x"}),
      refused({"--pause-timeout", " "}),
      refused({"--jedec-gbs", "abc"}),
      refused({"--seed", "deadbeef"}, "a hexadecimal seed is written 0xdeadbeef"),
      refused({"--seed", "08"}, "a seed with a leading 0 is octal"),
      // Text after the number that is no unit the option takes.
      refused({"--reserve", "1G"}),
      refused({"--mem", "512Mx"}),
      refused({"--mem", "512MB"}),
      refused({"--mem", "2X"}),
      refused({"--passes", "0x10"}),
      refused({"--pause-timeout", "1.5"}),
      refused({"--seed", "0x10g"}),
      refused({"--pass-pct", "80%"}),
      // Beyond the field.
      refused({"--mem", "-1"}),
      refused({"--mem", "nan"}),
      refused({"--mem", "inf"}),
      refused({"--mem", "1e30T"}),
      refused({"--threads", "4294967297"}),
      refused({"--duration", "4294967297"}),
      refused({"--hard-threshold", "2147483648"}),
      refused({"--max-pauses", "-2147483649"}),
      refused({"--reserve", "9223372036854775808"}),
      refused({"--seed", "-1"}),
      refused({"--seed", "0x10000000000000000"}),
      // A size of less than one page.
      refused({"--mem", "512"}, "less than one page; sizes take a suffix: 512M"),
      refused({"--mem", below_page}, "less than one page; sizes take a suffix: " + below_page + "M"),
      refused({"--mem", "0.5"}, "less than one page; sizes take a suffix: 0.5M"),
      refused({"--mem", "1K"}, "less than one page of " + page + " bytes"),
      // Words the option does not know.
      refused({"--tier", "foo"}),
      refused({"--tier", "Quick"}),
      refused({"--setup-override", "Uniform"}),
      refused({"--setup-override", "none"}),
      // The next option taken as the value.
      refused({"--metrics", "--json"}),
      refused({"--history", "-h"}),
      refused({"--history", ""}),
      refused({"--passes", "--json"}),
      // The value of --retention=.
      {{"--retention=abc"}, nullptr, "invalid value for --retention: abc\n"},
      {{"--retention="}, nullptr, "invalid value for --retention: \n"},
      {{"--retention=99999999999"}, nullptr, "invalid value for --retention: 99999999999\n"},
      // An option name with more after it.
      {{"--retentionXYZ"}, nullptr, "unknown option: --retentionXYZ\n"},
  };
}

TEST(CommandLine, ValuesAreTakenWholeOrRefused) {
  for (const ValueRow& row : value_rows()) {
    std::string shown;
    for (const std::string& a : row.args) shown += " '" + a + "'";
    const Parsed p = parse(row.args);
    if (row.field != nullptr) {
      ASSERT_FALSE(p.code.has_value()) << shown << ": " << p.err;
      EXPECT_EQ(field(p.cfg, row.field), row.expect) << shown;
      EXPECT_EQ(p.err, "") << shown;
      continue;
    }
    EXPECT_EQ(p.code.value_or(-1), 2) << shown;
    EXPECT_EQ(p.err, row.expect) << shown;
    const bool unknown = row.expect.rfind("unknown option: ", 0) == 0;
    EXPECT_EQ(p.out.find("Usage: dravik [options]") != std::string::npos, unknown)
        << shown << ": the usage follows an unknown option only";
  }
}

TEST(CommandLine, RealBinaryRefusesValuesBeforeItStarts) {
  for (const ValueRow& row : value_rows()) {
    if (row.field != nullptr) continue;
    std::vector<std::string> args = row.args;
    args.push_back("--selftest");  // were a row taken, a short self check would run and pass
    const testing::ProcResult r = testing::run_dravik(args);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_EQ(r.err, row.expect) << args[0];
  }
}

TEST(CommandLine, LaterOptionsOverwriteEarlierOnes) {
  EXPECT_EQ(parse({"--quick", "--thorough"}).cfg.tier, PatternTier::thorough);
  EXPECT_EQ(parse({"--bench", "--full"}).cfg.mode, RunMode::OFFLINE);
  EXPECT_EQ(parse({"--json", "--ui2"}).cfg.output, OutputStyle::glyph_dashboard);
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
