#include "support/recording_sink.h"

#include "app/run/heartbeat.h"

namespace dravik::testing {

RecordingSink::RecordingSink(Run& run) : run_(run) {
  // Events come here; the heartbeat stays the run's own.
  run.sink = EventSink{this, &RecordingSink::emit, &RecordingSink::tick};
}

RecordingSink::~RecordingSink() { run_.sink = heartbeat_sink(run_); }

int RecordingSink::count(EventKind kind) const {
  int n = 0;
  for (const RecordedEvent& e : events_) n += e.kind == kind;
  return n;
}

void RecordingSink::tick(void* owner) { heartbeat(static_cast<RecordingSink*>(owner)->run_); }

void RecordingSink::emit(void* owner, EventKind kind, const void*) {
  auto* self = static_cast<RecordingSink*>(owner);
  const Run& run = self->run_;
  RecordedEvent e{kind};
  if (kind == EventKind::cell) {
    e.win = run.st.regions_in_pass;
    e.active_lo = run.st.active_lo;
    e.active_hi = run.st.active_hi;
  }
  if (kind == EventKind::phase) e.algo = run.st.algo_name.load();
  self->events_.push_back(e);
  if (self->on_event) self->on_event(kind);
}

}  // namespace dravik::testing
