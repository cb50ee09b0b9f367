// How the outputs read a run: one view over the parts they report on. The
// members are references into the run that owns the parts; a test builds a
// view over parts of its own.
#pragma once
#include <cstdint>
#include <string>

#include "core/config.h"
#include "core/run/state.h"
#include "engine/context.h"
#include "engine/faults/fault_log.h"
#include "engine/map/memory_map.h"
#include "klog/klog_monitor.h"
#include "report/json_state.h"
#include "report/ui_state.h"

namespace dravik {

struct RunView {
  const RunConfig& cfg;
  RunState& st;
  FaultLog& faults;  // read under its lock
  MapGeometry& map;
  const KlogMonitor& klog;
  UiState& ui;
  const int32_t& clflush_usable;
  // The engine's side of the same run: the dashboard lays the map out anew
  // when the terminal's size changes.
  EngineContext& engine;
  JsonState& json;
  // The firmware's memory table, read at the end for the unused-module
  // warning of the summary (tests point it at a fixture).
  std::string dmi_table = "/sys/firmware/dmi/tables/DMI";
};

}  // namespace dravik
