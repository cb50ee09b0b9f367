#include "core/run/event_sink.h"

#include <cstdarg>
#include <cstdio>

#include "core/run/flags.h"

namespace dravik {

void emit_event(const EventSink& sink, EventKind kind, const void* payload) {
  if (in_worker || sink.emit == nullptr) return;
  sink.emit(sink.owner, kind, payload);
}

void sink_tick(const EventSink& sink) {
  if (in_worker || sink.tick == nullptr) return;
  sink.tick(sink.owner);
}

void post_status(const EventSink& sink, RunState& st, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vsnprintf(st.status_line, sizeof st.status_line, format, ap);
  va_end(ap);
  emit_event(sink, EventKind::log, st.status_line);
}

}  // namespace dravik
