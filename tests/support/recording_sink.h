// An event sink that records what a run emitted, for tests.
#pragma once
#include <functional>
#include <vector>

#include "app/run/run.h"

namespace dravik::testing {

struct RecordedEvent {
  EventKind kind;
  int32_t win = 0;         // cell events: the window number
  int32_t active_lo = -1;  // cell events
  int32_t active_hi = -1;
  const char* algo = "";   // phase events: the algorithm announced
};

// Installs itself as the run's sink; events land in events().
class RecordingSink {
 public:
  explicit RecordingSink(Run& run);
  ~RecordingSink();
  const std::vector<RecordedEvent>& events() const { return events_; }
  int count(EventKind kind) const;
  // Called for every event after it was recorded (for example to change the
  // machine's state right after the budget was taken).
  std::function<void(EventKind)> on_event;

 private:
  static void emit(void* owner, EventKind kind, const void* payload);
  static void tick(void* owner);
  Run& run_;
  std::vector<RecordedEvent> events_;
};

}  // namespace dravik::testing
