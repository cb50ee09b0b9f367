// The controller's side of the qualification's worker pool: what it needs
// besides the job record (kernels/job.h), the start and ordered shutdown of
// the workers, the call that runs one job, the progress map behind the
// hcl_map events, the reports of the bit-error log and the memory-pressure
// watchdog. Every call here runs on the main thread.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "hcl/kernels/job.h"

namespace dravik {

class HclOutput;

inline constexpr int kHclMapCells = 624;

// The progress map of the running phase (phase null: no map).
struct HclProgressMap {
  const char* phase = nullptr;  // "P2", ...
  const char* state = "verify"; // "verify" or "write"
  uint64_t target_bytes = 0;    // per worker, byte-measured maps
  uint64_t base_done = 0;       // bytes per worker finished by earlier jobs of the phase
  double seconds = 0;           // timed maps, else 0
  double start = 0;
  int32_t threads = 0;
  double last_event = 0;
};

// What the controller needs besides the job record: where reports go, the
// kernel-log drain, the pressure watchdog's floor and files, and the
// progress map. The run fills it once (tests over fixture files).
struct HclRunner {
  HclRunner(HclJob& j, HclOutput& o) : job(j), out(o) {}

  HclJob& job;
  HclOutput& out;
  // Reads pending /dev/kmsg records; empty when that descriptor is not open.
  std::function<void()> klog_drain;
  // Pressure floor in bytes (max(reserve, 512 MiB)); 0 turns the watchdog off.
  uint64_t pressure_floor = 0;
  std::string meminfo_path = "/proc/meminfo";
  std::string psi_path = "/proc/pressure/memory";
  // Set when the watchdog aborted the run: no further checks.
  bool watchdog_tripped = false;
  HclProgressMap map;
};

// ---- Pool (pool.cpp) --------------------------------------------------------

struct HclPoolStart {
  uint64_t arena_total = 0;  // bytes of the arenas actually mapped
  int32_t arenas_allocated = 0;
};

// Sets the pressure floor, starts `workers` pinned threads (1..64) and runs
// the allocation job: each worker maps, fills and locks arena_bytes. Sets
// job.affinity_ok.
HclPoolStart hcl_pool_start(HclRunner& r, int workers, int cpus, int64_t arena_bytes,
                            uint64_t pressure_floor);
// Quits the workers through both barriers, joins them, unlocks and unmaps
// every arena and destroys the barriers. Safe to call once after a start.
void hcl_pool_shutdown(HclRunner& r);

// ---- Jobs (runner.cpp) ------------------------------------------------------

// Runs one job and returns its wall time in seconds (at least 1e-9),
// barrier passage included. While it waits it drains the kernel log, emits
// progress-map events and, every 20th poll, runs the pressure watchdog.
// A timed job (until_done 0) needs seconds > 0.
double run_job(HclRunner& r, HclOp op, int active, uint64_t seed, int until_done,
               double seconds = 0.0);

// The memory-pressure watchdog: aborts (sets stop_requested, reports
// hcl_abort) when MemAvailable is below the floor or the memory PSI some
// avg10 is above 20.0. Returns true when it aborted.
bool hcl_pressure_check(HclRunner& r);

// ---- Progress map and error reports (map.cpp) -------------------------------

void map_begin_bytes(HclRunner& r, const char* phase, const char* state, uint64_t target_bytes,
                     int threads);
void map_begin_timed(HclRunner& r, const char* phase, int threads, double seconds);
// Emits the final frame (every cell done) when a map is active, then clears it.
void map_end(HclRunner& r);
// A progress-map frame at time now: at most one every 0.25 s unless forced.
void map_event(HclRunner& r, bool forced, double now);
// Cells done of 624 at time now.
int map_done_cells(const HclProgressMap& map, const HclJob& job, bool forced, double now);
// The cell of an error at vaddr, -1 when it lies in none of the map threads' arenas.
int map_error_cell(const HclProgressMap& map, const HclJob& job, uint64_t vaddr);

// Reports the error records not reported yet.
void report_bit_errors(HclRunner& r);

}  // namespace dravik
