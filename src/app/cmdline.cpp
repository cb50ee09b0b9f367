#include "app/cmdline.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace dravik {

namespace {

const char kUsage[] =
    "%s v%s  --  trustworthy userspace RAM diagnostic\n"
    "Usage: %s [options]\n"
    "\n"
    "Modes:\n"
    "  (default)         Live/PRODUCTION mode: safe nibble-and-release on a busy box\n"
    "  --full            Offline mode: test (almost) all free RAM\n"
    "  --bench           Bandwidth + latency benchmark (no fault test)\n"
    "  --hcl             HCL qualification: pinned-thread saturation sweep with\n"
    "                    inline SIMD verification, P99 latency jitter, OLTP atomic\n"
    "                    contention, EDAC/klog correlation and a strict verdict\n"
    "                    (JEDEC >=80%% pass / <60%% fail, p99<=2.5x avg, 0 errors)\n"
    "  --selftest        Fault-injection self check, then exit\n"
    "\n"
    "Output (mutually exclusive):\n"
    "  --ui              Boxed terminal UI (ASCII fallback, 16 colors)\n"
    "  --ui2             Boxed terminal UI (nerd-font glyphs, 256 colors, animated)\n"
    "  --json            Stream NDJSON events to stdout (mirrors --ui2 for web UI)\n"
    "\n"
    "Test profiles (all now cover ALL free RAM -- pages are held, not recycled):\n"
    "  --quick           Fast: random moving-inversion + checkerboard (ramdisk-\n"
    "                    equivalent, reproduces a disk-filltest-on-tmpfs result)\n"
    "  --standard        Curated default suite (low false-positive)\n"
    "  --thorough        Add slow exhaustive patterns\n"
    "  --extended-tests  Add memtester-style XOR/SUB/MUL/DIV/OR/AND/seqinc compares\n"
    "  --retention[=SEC] Add opt-in bit-fade/retention test (default 600s)\n"
    "\n"
    "Records (written at the end of every run, whatever its outcome):\n"
    "  --metrics FILE    Replace FILE with the result as Prometheus text metrics\n"
    "                    (for node-exporter's textfile collector)\n"
    "  --history FILE    Append the result as one JSON line to FILE (last 1000 kept)\n"
    "  --report FILE     Replace FILE with the run's report: one HTML page\n"
    "  --report-from RUN Render the saved JSON lines of RUN into --report FILE;\n"
    "                    tests nothing\n"
    "\n"
    "Safety / tuning:\n"
    "  --strict          Abort if memory cannot be mlock'd\n"
    "  --reserve MB      Safety buffer to keep free (default 256; held live per-block)\n"
    "  --chunk MB        Live block size (default 128)\n"
    "  --max-pauses N    Live pause budget (default 3)\n"
    "  --pause-timeout S Max seconds for one pause (default 120)\n"
    "  --threads N       Parallel workers (--full; --hcl defaults to all cores)\n"
    "  --duration S      --hcl saturation phase length (default 60)\n"
    "  --jedec-gbs X     --hcl theoretical bandwidth override in GB/s (no-DMI boxes)\n"
    "  --tier T          --hcl depth: quick (provisional, skips fade), standard, soak\n"
    "  --pass-pct P      --hcl efficiency floor for PASS (platform table; default 80)\n"
    "  --fail-pct P      --hcl efficiency floor below which FAIL (default 60)\n"
    "  --setup-override V  test-only: force the eligibility gate (mixed|uniform)\n"
    "  --passes N        Number of full sweeps (default 1, 0 = infinite)\n"
    "  --mem SIZE        Cap test size (e.g. 2G, 512M)\n"
    "  --seed HEX        PRNG seed for reproducible runs\n"
    "  --hard-threshold N Repeats at one address to classify HARD (default 2)\n"
    "  --no-phys         Disable physical-address mapping\n"
    "  --no-klog         Disable kernel-log (dmesg) scanning\n"
    "  --version, --help\n";

// strtol semantics: leading blanks skipped, stops at the first character that
// does not fit, no number reads 0, overflow saturates.
int64_t decimal(const char* text) { return strtol(text, nullptr, 10); }

// A figure of the qualification (strtod semantics: no number reads 0, which
// keeps meaning "not given"). Infinity, NaN or a value above `most` is no
// figure at all: false, and the option is refused.
bool hcl_figure(const char* text, double most, double* out) {
  const double value = strtod(text, nullptr);
  if (!std::isfinite(value) || value > most) return false;
  *out = value;
  return true;
}

// Bandwidth no memory system reaches (GB/s); an efficiency floor is a share.
constexpr double kMaxJedecGbs = 10000.0;
constexpr double kMaxPercent = 100.0;

enum class Opt {
  full, bench, hcl, duration, jedec_gbs, tier, pass_pct, fail_pct, setup_override, selftest,
  ui, ui2, json, quick, standard, thorough, strict, no_phys, no_klog, extended_tests,
  retention, reserve, chunk, max_pauses, pause_timeout, threads, passes, mem, seed,
  hard_threshold, metrics, history, report, report_from, version, help, help_short,
};

struct OptionRow {
  const char* name;
  Opt opt;
  bool takes_value;
};

// Comparison order: the first row that matches wins.
constexpr OptionRow kOptions[] = {
    {"--full", Opt::full, false},
    {"--bench", Opt::bench, false},
    {"--hcl", Opt::hcl, false},
    {"--duration", Opt::duration, true},
    {"--jedec-gbs", Opt::jedec_gbs, true},
    {"--tier", Opt::tier, true},
    {"--pass-pct", Opt::pass_pct, true},
    {"--fail-pct", Opt::fail_pct, true},
    {"--setup-override", Opt::setup_override, true},
    {"--selftest", Opt::selftest, false},
    {"--ui", Opt::ui, false},
    {"--ui2", Opt::ui2, false},
    {"--json", Opt::json, false},
    {"--quick", Opt::quick, false},
    {"--standard", Opt::standard, false},
    {"--thorough", Opt::thorough, false},
    {"--strict", Opt::strict, false},
    {"--no-phys", Opt::no_phys, false},
    {"--no-klog", Opt::no_klog, false},
    {"--extended-tests", Opt::extended_tests, false},
    {"--retention", Opt::retention, false},  // prefix match, see below
    {"--reserve", Opt::reserve, true},
    {"--chunk", Opt::chunk, true},
    {"--max-pauses", Opt::max_pauses, true},
    {"--pause-timeout", Opt::pause_timeout, true},
    {"--threads", Opt::threads, true},
    {"--passes", Opt::passes, true},
    {"--mem", Opt::mem, true},
    {"--seed", Opt::seed, true},
    {"--hard-threshold", Opt::hard_threshold, true},
    {"--metrics", Opt::metrics, true},
    {"--history", Opt::history, true},
    {"--report", Opt::report, true},
    {"--report-from", Opt::report_from, true},
    {"--version", Opt::version, false},
    {"--help", Opt::help, false},
    {"-h", Opt::help_short, false},
};

const OptionRow* match(const char* arg, bool has_next) {
  for (const OptionRow& row : kOptions) {
    if (row.opt == Opt::retention) {
      if (strncmp(arg, row.name, 11) == 0) return &row;
      continue;
    }
    if (strcmp(arg, row.name) != 0) continue;
    if (row.takes_value && !has_next) continue;  // a value option given last matches nothing
    return &row;
  }
  return nullptr;
}

int bad_value(const char* option, const char* value, FILE* err) {
  fprintf(err, "invalid value for %s: %s\n", option, value);
  return 2;
}

}  // namespace

void print_usage(FILE* out, const char* program) {
  fprintf(out, kUsage, kTitle, kVersion, program);
}

uint64_t parse_size(const char* text) {
  char* end = nullptr;
  const double number = strtod(text, &end);
  double factor = 1.0;
  switch (*end) {
    case 'k': case 'K': factor = 1024.0; break;
    case 'm': case 'M': factor = 1048576.0; break;
    case 'g': case 'G': factor = 1073741824.0; break;
    case 't': case 'T': factor = 1099511627776.0; break;
    default: break;
  }
  const double bytes = number * factor;
  // A double converts to an unsigned 64-bit count only inside [0, 2^64).
  // A negative or unreadable size is no cap at all (0); one beyond the range
  // is the largest count, which caps nothing either.
  if (!(bytes > 0.0)) return 0;
  if (bytes >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(bytes);
}

uint64_t derive_seed(int64_t wall_seconds, int64_t pid) {
  return (static_cast<uint64_t>(wall_seconds) << 16) ^ static_cast<uint64_t>(pid) ^
         0xA5A5A5A5ULL;
}

std::optional<int> parse_command_line(int argc, const char* const* argv, RunConfig& cfg,
                                      FILE* out, FILE* err) {
  cfg = RunConfig{};
  const char* program = argc > 0 ? argv[0] : "dravik";
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const OptionRow* row = match(arg, i + 1 < argc);
    if (row == nullptr) {
      fprintf(err, "unknown option: %s\n", arg);
      print_usage(out, program);
      return 2;
    }
    const char* value = row->takes_value ? argv[++i] : nullptr;
    switch (row->opt) {
      case Opt::full: cfg.mode = RunMode::OFFLINE; break;
      case Opt::bench: cfg.mode = RunMode::BENCH; break;
      case Opt::hcl: cfg.mode = RunMode::HCL; break;
      case Opt::duration: cfg.hcl_duration_s = static_cast<int32_t>(decimal(value)); break;
      case Opt::jedec_gbs:
        if (!hcl_figure(value, kMaxJedecGbs, &cfg.jedec_gbs)) return bad_value(arg, value, err);
        break;
      case Opt::tier:
        cfg.hcl_tier = strcmp(value, "quick") == 0  ? HclTier::quick
                       : strcmp(value, "soak") == 0 ? HclTier::soak
                                                    : HclTier::standard;
        break;
      case Opt::pass_pct:
        if (!hcl_figure(value, kMaxPercent, &cfg.pass_pct)) return bad_value(arg, value, err);
        cfg.pct_given = 1;
        break;
      case Opt::fail_pct:
        if (!hcl_figure(value, kMaxPercent, &cfg.fail_pct)) return bad_value(arg, value, err);
        cfg.pct_given = 1;
        break;
      case Opt::setup_override:
        cfg.setup_override = strcmp(value, "mixed") == 0     ? SetupOverride::mixed
                             : strcmp(value, "uniform") == 0 ? SetupOverride::uniform
                                                             : SetupOverride::none;
        break;
      case Opt::selftest: cfg.selftest = 1; break;
      case Opt::ui: cfg.output = OutputStyle::ui; break;
      case Opt::ui2: cfg.output = OutputStyle::ui2; break;
      case Opt::json: cfg.output = OutputStyle::json; break;
      case Opt::quick: cfg.tier = Tier::quick; break;
      case Opt::standard: cfg.tier = Tier::standard; break;
      case Opt::thorough: cfg.tier = Tier::thorough; break;
      case Opt::strict: cfg.strict = 1; break;
      case Opt::no_phys: cfg.use_phys = 0; break;
      case Opt::no_klog: cfg.klog_enabled = 0; break;
      case Opt::extended_tests: cfg.extended_tests = 1; break;
      case Opt::retention:
        cfg.retention_s = arg[11] == '=' ? static_cast<int32_t>(decimal(arg + 12)) : 600;
        break;
      case Opt::reserve: cfg.reserve_mib = decimal(value); break;
      case Opt::chunk: cfg.chunk_mib = decimal(value); break;
      case Opt::max_pauses: cfg.max_pauses = static_cast<int32_t>(decimal(value)); break;
      case Opt::pause_timeout: cfg.pause_timeout_s = static_cast<int32_t>(decimal(value)); break;
      case Opt::threads:
        cfg.threads = static_cast<int32_t>(decimal(value));
        cfg.threads_given = 1;
        break;
      case Opt::passes: cfg.passes = decimal(value); break;
      case Opt::mem: cfg.mem_cap = parse_size(value); break;
      case Opt::seed: cfg.seed = strtoul(value, nullptr, 0); break;
      case Opt::hard_threshold: cfg.hard_threshold = static_cast<int32_t>(decimal(value)); break;
      case Opt::metrics: cfg.metrics_path = value; break;
      case Opt::history: cfg.history_path = value; break;
      case Opt::report: cfg.report_path = value; break;
      case Opt::report_from: cfg.report_from_path = value; break;
      case Opt::version:
        fprintf(out, "%s v%s\n", kTitle, kVersion);
        return 0;
      case Opt::help:
      case Opt::help_short:
        print_usage(out, program);
        return 0;
    }
  }
  if (cfg.chunk_mib <= 0) cfg.chunk_mib = 128;
  if (cfg.hard_threshold < 1) cfg.hard_threshold = 1;
  if (cfg.seed == 0) cfg.seed = derive_seed(static_cast<int64_t>(time(nullptr)), getpid());
  return std::nullopt;
}

}  // namespace dravik
