// What the JSON stream remembers between events.
#pragma once

namespace dravik {

struct JsonState {
  // When the last map line was written (any map line: the set-up map, a
  // resize, the once-a-second refresh); -1 before the first.
  double last_map_line = -1.0;
};

}  // namespace dravik
