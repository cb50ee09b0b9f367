// The event sink: every observable step of a run is announced as an event to
// the one sink chosen at start. The sink decides how an event reads (screen,
// JSON line, console text); the code that announces never knows. Only the
// main thread reaches a sink.
#pragma once
#include <cstdint>

#include "core/run/state.h"

namespace dravik {

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
  bench_start = 12,
};

// The composition root fills a sink with the record it reports on (owner)
// and two functions: emit, for each event, and tick, the heartbeat that every
// long loop on the main thread calls at its checkpoints (keys, pause hold,
// refresh, kernel-log drain). Either function may be null.
struct EventSink {
  void* owner = nullptr;
  void (*emit)(void* owner, EventKind kind, const void* payload) = nullptr;
  void (*tick)(void* owner) = nullptr;
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

// Payload of the bench_point event: one measurement of the ladder.
struct BenchPoint {
  uint64_t size = 0;
  char op[12] = {};
  double value = 0.0;
};

// Payload of the bench_start event: the buffer the ladder runs in.
struct BenchStart {
  uint64_t buffer_cap = 0;
  int32_t locked = 0;
};

// Does nothing on a worker thread or when the sink has no emit function.
void emit_event(const EventSink& sink, EventKind kind, const void* payload = nullptr);

// One heartbeat; does nothing on a worker thread or without a tick function.
void sink_tick(const EventSink& sink);

// Formats into the run's status line (191 characters at most) and emits a
// log event whose payload is that text.
void post_status(const EventSink& sink, RunState& st, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace dravik
