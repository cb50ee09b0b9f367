#include "app/run/run.h"

#include "app/run/heartbeat.h"
#include "report/json/json_sink.h"
#include "report/tui/ui_sink.h"

namespace dravik {

namespace {

void beat(void* owner) { heartbeat(*static_cast<Run*>(owner)); }
void json_out(void* owner, EventKind kind, const void* payload) {
  json_emit(*static_cast<Run*>(owner), kind, payload);
}
void ui_out(void* owner, EventKind kind, const void* payload) {
  ui_emit(*static_cast<Run*>(owner), kind, payload);
}

}  // namespace

Run::Run() : sink(heartbeat_sink(*this)) {}

EventSink heartbeat_sink(Run& run) { return EventSink{&run, nullptr, beat}; }
EventSink json_sink(Run& run) { return EventSink{&run, json_out, beat}; }
EventSink ui_sink(Run& run) { return EventSink{&run, ui_out, beat}; }

}  // namespace dravik
