// The event sink: every observable step of a run is announced as an event to
// the one sink chosen at start. Only the main thread reaches a sink.
#pragma once
#include <cstdint>

namespace dravik {

struct Run;

enum class EventKind : int32_t {
  start = 0,
  map = 1,
  phase = 2,
  progress = 3,
  cell = 4,
  fault = 5,
  pressure = 6,
  bench_point = 7,
  bench_summary = 8,
  summary = 9,
  log = 10,
  klog = 11,
};

struct EventSink {
  void (*emit)(Run& run, const EventSink& sink, EventKind kind, const void* payload) = nullptr;
};

// Payload of the pressure event.
struct PressureRecord {
  const char* action = "";
  uint64_t mem_available = 0;
  uint64_t threshold = 0;
  int32_t pause_no = 0;
  int32_t max_pauses = 0;
  double wait_s = 0.0;
};

// Does nothing on a worker thread or before a sink is installed.
void emit_event(Run& run, EventKind kind, const void* payload = nullptr);

// Formats into the run's status line (191 characters at most) and emits a
// log event.
void post_status(Run& run, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The two sinks; selection happens once at start-up.
const EventSink& json_sink();
const EventSink& ui_sink();

}  // namespace dravik
