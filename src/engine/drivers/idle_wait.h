// The wait between passes when memory is at the reserve: the drivers keep
// the program alive instead of asking for a region again at once.
#pragma once

namespace dravik {

struct EngineContext;

// After a pass that could take no region (memory at the reserve), the next
// pass would find the same: keep the screen and the keys alive and wait about
// a second, polling the stop flag, instead of spinning a core on a busy box.
void idle_between_passes(EngineContext& run);

}  // namespace dravik
