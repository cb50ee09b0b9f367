// Placeholder until the dashboard lands (owner: terminal UI work).
#include "report/screen.h"

#include "core/run.h"

namespace dravik {

void draw_frame(Run&) {}

}  // namespace dravik
