// Where a qualification run's reports go. The run says what happened; the
// output decides how it reads: console text or JSON lines. One output is
// chosen at start-up; every call comes from the main thread.
#pragma once
#include <cstdint>
#include <vector>

namespace dravik {

struct MemoryInventory;
struct JedecReference;
struct SetupAssessment;
struct HclErrorRecord;
struct HclVerdictReport;

// Run figures that head the report beside the inventory.
struct HclInfo {
  int cpus = 1;
  int threads = 1;
  int numa_nodes = 1;
  bool affinity = false;      // every worker pinned itself
  bool mlocked = false;       // worker 0's arena is locked
  uint64_t arena_bytes = 0;   // bytes of the arenas actually allocated
  uint64_t arena_per_thread = 0;
  int duration = 60;          // saturate seconds
  int arenas_allocated = 0;
};

// One progress-map frame of the running phase.
struct HclMapFrame {
  const char* phase = "";
  const char* state = "verify";
  int cells = 624;
  int done = 0;
  std::vector<int> err_cells;  // at most 32
};

class HclOutput {
 public:
  virtual ~HclOutput() = default;

  // Console prose of the run (phase result lines, sweep rows, warnings);
  // the JSON output drops it.
  virtual void text(const char* s) = 0;
  // A status message of the run (for example "hcl: not enough free memory").
  virtual void status(const char* s) = 0;

  // Start-up: header, arena and inventory lines, or the hcl_info line.
  virtual void info(const HclInfo& info, const MemoryInventory& inv, const JedecReference& ref) = 0;
  // Preflight: the uniformity gate and busy lines, or the hcl_setup line.
  virtual void setup(const SetupAssessment& gate, double load1, double psi_mem10, bool busy,
                     int cpus) = 0;

  // JSON-only events of the phases; the console output ignores them.
  virtual void phase(const char* id, const char* name, const char* status, double t) = 0;
  virtual void stage(const char* phase, int threads) = 0;  // {"event":"hcl_phase","phase":..,"threads":..}
  virtual void point(const char* phase, const char* op, int threads, double gbs) = 0;
  virtual void latency_point(const char* op, int threads, double avg_ns, double p99_ns) = 0;
  virtual void oltp_point(int threads, double mops, bool ledger_ok) = 0;
  virtual void realism_point(const char* op, int threads, double value) = 0;  // tlb: mops, fletcher4: gbs
  // Whether progress-map frames are wanted (computing one takes the error-log lock).
  virtual bool wants_map() const = 0;
  virtual void map(const HclMapFrame& frame) = 0;

  // Job runner reports.
  virtual void bit_error(const HclErrorRecord& rec, int bits) = 0;
  virtual void abort(uint64_t mem_available, uint64_t floor, double psi_mem10) = 0;

  // The end: boxed report or the hcl_verdict line.
  virtual void verdict(const HclVerdictReport& report) = 0;
};

// printf-style convenience over text().
void hcl_console(HclOutput& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace dravik
