// The composition root's record: everything one run owns (configuration, run
// state, fault log, memory map, kernel-log monitor, dashboard state, event
// sink) and the views each floor works through. Tests create a fresh Run for
// each case; only the process-wide flags of core/run/flags.h are global.
//
// A Run converts to each view, so a call into the engine, the kernel-log
// monitor or an output takes the run as it is. It is neither copied nor
// moved: the views refer to its members.
#pragma once
#include <cstdint>
#include <functional>

#include "core/config.h"
#include "core/run/event_sink.h"
#include "core/run/state.h"
#include "core/sys_paths.h"
#include "engine/context.h"
#include "engine/faults/fault_log.h"
#include "engine/map/memory_map.h"
#include "engine/test_block.h"
#include "klog/klog.h"
#include "klog/klog_monitor.h"
#include "memory/address/phys_map.h"
#include "report/json_state.h"
#include "report/run_view.h"
#include "report/ui_state.h"

namespace dravik {

struct Run {
  Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  RunConfig cfg;
  RunState st;
  SysPaths paths;
  PhysMap phys;
  FaultLog faults;
  MapGeometry map;
  KlogMonitor klog;
  UiState ui;
  JsonState json;
  // The heartbeat alone until start-up chooses the output's sink.
  EventSink sink;
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

  EngineContext engine{cfg, st, paths, phys, faults, map, sink,
                       clflush_usable, clflushopt, after_flush, on_mismatch};
  KlogContext klog_ctx{klog, paths, sink, cfg.klog_enabled};
  RunView view{cfg, st, faults, map, klog, ui, clflush_usable, engine, json};

  operator EngineContext&() { return engine; }
  operator KlogContext&() { return klog_ctx; }
  operator RunView&() { return view; }
  operator const EngineContext&() const { return engine; }
  operator const RunView&() const { return view; }
};

// The sink of the heartbeat alone (what a run has before an output is chosen).
EventSink heartbeat_sink(Run& run);
// The sinks of the two output families: JSON lines, or the dashboard and the
// console summary.
EventSink json_sink(Run& run);
EventSink ui_sink(Run& run);

}  // namespace dravik
