#include "engine/cpu_share.h"

#include <time.h>

#include <algorithm>

#include "core/text.h"

namespace dravik {

double thread_cpu_seconds() {
  timespec ts{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0.0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

ShareClock::ShareClock() : wall0_(now_seconds()), cpu0_(thread_cpu_seconds()) {}

double ShareClock::share() const {
  const double wall = now_seconds() - wall0_;
  if (wall <= 0.0) return 1.0;
  return std::clamp((thread_cpu_seconds() - cpu0_) / wall, 0.0, 1.0);
}

double probe_cpu_share(double seconds) {
  const ShareClock clock;
  const double end = now_seconds() + seconds;
  while (now_seconds() < end) {
  }
  return clock.share();
}

}  // namespace dravik
