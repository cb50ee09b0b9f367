#include "engine/idle_wait.h"

#include <unistd.h>

#include "core/flags.h"
#include "app/run.h"
#include "report/tui/ui_loop.h"

namespace dravik {

void idle_between_passes(Run& run) {
  ui_tick(run);
  for (int step = 0; step < 20 && !stopping(); ++step) {
    usleep(50000);
    ui_tick(run);
  }
}

}  // namespace dravik
