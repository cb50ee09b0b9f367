#include "engine/progress.h"

#include <unistd.h>

#include <cstring>

#include "core/run/flags.h"
#include "engine/context.h"
#include "core/run/event_sink.h"

namespace dravik {

void begin_test(EngineContext& run, const char* name) {
  const char* current = run.st.algo_name.load(std::memory_order_relaxed);
  if (current[0] != '\0' && strncmp(current, name, 23) != 0) {
    run.st.color_counter.fetch_add(1, std::memory_order_relaxed);
  }
  run.st.algo_name.store(name, std::memory_order_relaxed);
  run.st.algo_pct.store(0, std::memory_order_relaxed);
  if (!in_worker) emit_event(run.sink, EventKind::phase);
}

void test_progress(EngineContext& run, double pct) {
  int32_t value = 0;
  if (pct > 100.0) {
    value = 100;
  } else if (pct >= 0.0) {  // a NaN falls through to 0
    value = static_cast<int32_t>(pct + 0.5);
  }
  run.st.algo_pct.store(value, std::memory_order_relaxed);
  if (!in_worker) {
    sink_tick(run.sink);
    return;
  }
  while (pausing() && !stopping()) usleep(120000);
}

void current_test_name(const RunState& st, char out[24]) {
  const char* name = st.algo_name.load(std::memory_order_relaxed);
  strncpy(out, name, 23);
  out[23] = '\0';
}

}  // namespace dravik
