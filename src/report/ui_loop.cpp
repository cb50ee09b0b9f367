// Placeholder until the terminal UI loop lands (owner: terminal UI work).
#include "report/ui_loop.h"

#include "core/run.h"
#include "report/event_sink.h"

namespace dravik {

void ui_start(Run&) {}
void ui_tick(Run&) {}
void ui_poll_keys(Run&) {}
void restore_terminal() {}
const EventSink& ui_sink() {
  static const EventSink sink{};
  return sink;
}

}  // namespace dravik
