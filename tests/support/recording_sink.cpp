#include "support/recording_sink.h"

#include <mutex>

namespace dravik::testing {

namespace {
std::mutex g_registry_lock;
std::vector<std::pair<const EventSink*, RecordingSink*>> g_registry;
}  // namespace

RecordingSink::RecordingSink(Run& run) : run_(run) {
  sink_.emit = &RecordingSink::emit;
  std::lock_guard<std::mutex> guard(g_registry_lock);
  g_registry.emplace_back(&sink_, this);
  run.sink = &sink_;
}

RecordingSink::~RecordingSink() {
  run_.sink = nullptr;
  std::lock_guard<std::mutex> guard(g_registry_lock);
  for (auto it = g_registry.begin(); it != g_registry.end(); ++it) {
    if (it->second == this) {
      g_registry.erase(it);
      break;
    }
  }
}

int RecordingSink::count(EventKind kind) const {
  int n = 0;
  for (const RecordedEvent& e : events_) n += e.kind == kind;
  return n;
}

void RecordingSink::emit(Run& run, const EventSink& sink, EventKind kind, const void*) {
  RecordingSink* self = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_registry_lock);
    for (auto& entry : g_registry) {
      if (entry.first == &sink) self = entry.second;
    }
  }
  if (self == nullptr) return;
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
