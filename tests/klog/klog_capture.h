// A sink for the kernel-log tests that keeps a copy of every klog event.
#pragma once
#include <vector>

#include "app/run/run.h"
#include "core/run/event_sink.h"

namespace dravik::testing {

class KlogCapture {
 public:
  explicit KlogCapture(Run& run) {
    events().clear();
    run.sink = EventSink{nullptr, &KlogCapture::emit, nullptr};
  }
  const std::vector<KlogEntry>& seen() const { return events(); }

 private:
  static std::vector<KlogEntry>& events() {
    static std::vector<KlogEntry> list;
    return list;
  }
  static void emit(void*, EventKind kind, const void* payload) {
    if (kind == EventKind::klog && payload) events().push_back(*static_cast<const KlogEntry*>(payload));
  }
};

}  // namespace dravik::testing
