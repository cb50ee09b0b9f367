// How much of a processor the calling thread gets: its CPU time over the wall
// time that passed. A worker at idle priority that shares its processor with
// a busy process at normal priority gets almost none of it, and a test it
// holds then waits for the rare moments it runs.
#pragma once

namespace dravik {

// Started at construction; share() is the thread's CPU time since then over
// the wall time since then (1 when no wall time has passed).
class ShareClock {
 public:
  ShareClock();
  double share() const;

 private:
  double wall0_;
  double cpu0_;
};

// Spins for `seconds` of wall time and returns the share the thread got
// meanwhile: close to 1 on a processor of its own, close to 0 on one that a
// higher-priority thread keeps busy (the spin then ends late, when the thread
// runs again).
double probe_cpu_share(double seconds);

}  // namespace dravik
