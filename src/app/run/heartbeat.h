// The heartbeat of the main thread: every long loop reaches it through the
// sink's tick at its checkpoints. It reads the keys, holds the run while the
// user has paused it, lays the map out anew after a resize, and at most ten
// times a second drains the kernel log, redraws and emits a progress event.
//
// Thread contract: only the main thread beats (a worker's test_progress only
// waits out a pause). The flags stop_requested, pause_requested and
// resize_pending are the only state shared with other threads and the signal
// handler.
#pragma once

namespace dravik {

struct Run;

void heartbeat(Run& run);

}  // namespace dravik
