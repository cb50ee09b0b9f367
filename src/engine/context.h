// What the engine works on: the parts of a run that testing memory touches.
// The run that owns these parts builds the context once; a test builds one
// over parts of its own. The members are references, so a context is a view
// and never outlives the parts it was built over.
#pragma once
#include <cstdint>
#include <functional>

#include "core/config.h"
#include "core/run/event_sink.h"
#include "core/run/state.h"
#include "core/sys_paths.h"
#include "engine/faults/fault_log.h"
#include "engine/map/memory_map.h"
#include "engine/test_block.h"
#include "memory/address/phys_map.h"

namespace dravik {

struct EngineContext {
  const RunConfig& cfg;
  RunState& st;
  const SysPaths& paths;
  PhysMap& phys;
  FaultLog& faults;
  MapGeometry& map;
  const EventSink& sink;
  const int32_t& clflush_usable;  // probed once at start-up
  const int32_t& clflushopt;      // flush with CLFLUSHOPT instead of CLFLUSH
  // Test seam at the write/verify boundary: called by flush_span after the
  // flush and fence, before the verify pass reads. Empty in production.
  const std::function<void(const TestBlock&)>& after_flush;
  // Test seam on the mismatch path (see Run::on_mismatch). Empty in production.
  const std::function<void(const TestBlock&, uint64_t index)>& on_mismatch;
};

}  // namespace dravik
