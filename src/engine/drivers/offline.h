// The OFFLINE driver: one-thread sweeps, or a pool of worker threads taking
// regions from a shared budget. Both lay a pass out alike: regions of the
// chunk (at least 8 MiB) in the order they are taken, the k-th seeded as the
// k-th of the sweep, each with the tier's whole sequence. For the same memory,
// options and seed, N workers test the same bytes with the same tests and
// data as one; only which worker runs which test differs.
//
// Threads. One-thread OFFLINE runs everything on the main thread. Threaded
// OFFLINE starts up to 256 workers per pass and joins them before the pass
// ends:
//   - pool_lock guards every value of the RegionPool (unclaimed budget,
//     claims, flags, the pool's region table, the open regions and which of
//     them a worker is testing); regions are mapped and tested outside it.
//   - workers share the work a test at a time: each takes the next test of
//     an open region nobody is testing, or claims a new region, or waits on
//     the pool's condition variable for a running test to end; a region's
//     tests still run one after another in catalogue order.
//   - the run's byte counters and the finished-worker count are atomics that
//     workers add to (the finished count under pool_lock); the fault log's lock guards only the fault records and
//     their map marks. The two locks are never held together.
//   - workers poll stop_requested before every test and wait out a user
//     pause inside test_progress; they never emit events or draw.
//   - the main thread waits on the pool's condition variable in 150 ms
//     steps, ticking the heartbeat between them, and reads the byte counters
//     and the finished count (they only grow); the last worker to leave wakes
//     it at once.
#pragma once

namespace dravik {

struct EngineContext;

void run_offline(EngineContext& run);

}  // namespace dravik
