// The full-screen dashboard.
#pragma once

namespace dravik {

struct Run;

// Composes one complete screen and writes it with one write.
void draw_frame(Run& run);

}  // namespace dravik
