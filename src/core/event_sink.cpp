#include "core/event_sink.h"

#include <cstdarg>
#include <cstdio>

#include "core/flags.h"
#include "app/run.h"

namespace dravik {

void emit_event(Run& run, EventKind kind, const void* payload) {
  if (in_worker) return;
  const EventSink* sink = run.sink;
  if (sink == nullptr || sink->emit == nullptr) return;
  sink->emit(run, *sink, kind, payload);
}

void post_status(Run& run, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vsnprintf(run.status_line, sizeof run.status_line, format, ap);
  va_end(ap);
  emit_event(run, EventKind::log);
}

}  // namespace dravik
