#include "engine/drivers/cpu_share.h"

#include <algorithm>

#include "core/text.h"

namespace dravik {

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
