#include "engine/drivers/idle_wait.h"

#include <unistd.h>

#include "core/run/event_sink.h"
#include "core/run/flags.h"
#include "engine/context.h"

namespace dravik {

void idle_between_passes(EngineContext& run) {
  sink_tick(run.sink);
  for (int step = 0; step < 20 && !stopping(); ++step) {
    usleep(50000);
    sink_tick(run.sink);
  }
}

}  // namespace dravik
