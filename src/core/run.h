// Everything one run owns: configuration, run state, fault log, memory map,
// kernel-log monitor, UI state and event sink. Tests create a fresh Run for
// each case; only the process-wide flags of core/flags.h are global.
#pragma once
#include <cstdint>
#include <functional>

#include "core/config.h"
#include "core/run_state.h"
#include "core/sys_paths.h"
#include "engine/fault_log.h"
#include "engine/memory_map.h"
#include "engine/test_block.h"
#include "klog/klog_monitor.h"
#include "memory/phys_map.h"
#include "report/event_sink.h"
#include "report/ui_state.h"

namespace dravik {

struct BenchPoint {
  uint64_t size = 0;
  char op[12] = {};
  double value = 0.0;
};

struct Run {
  RunConfig cfg;
  RunState st;
  SysPaths paths;
  PhysMap phys;
  FaultLog faults;
  MapGeometry map;
  KlogMonitor klog;
  UiState ui;
  const EventSink* sink = nullptr;
  char status_line[192] = {};
  BenchPoint bench_last;
  int32_t clflush_usable = 0;
  int32_t clflushopt = 0;  // flush with CLFLUSHOPT instead of CLFLUSH
  // Test seam at the write/verify boundary: called by flush_span after the
  // flush and fence, before the verify pass reads. Null in production.
  std::function<void(const TestBlock&)> after_flush;
  // Test seam on the mismatch path: called with the word's index after a
  // verifying read found it different and before record_fault sees it, so a
  // test can make the re-read find good data. Null in production; nothing
  // looks at it while the memory reads right.
  std::function<void(const TestBlock&, uint64_t index)> on_mismatch;
};

}  // namespace dravik
