// The main thread's housekeeping tick and the terminal mode.
#pragma once

namespace dravik {

struct Run;

// Starts the terminal UI (ui and ui2 styles in PRODUCTION and OFFLINE).
void ui_start(Run& run);

// Keys, the pause hold, resize, the 0.1 s refresh with progress events and
// the kernel-log drain, and the JSON map once a second.
void ui_tick(Run& run);

// Reads pending keys: q quits, p pauses, l and i toggle rows.
void ui_poll_keys(Run& run);

// Restores the terminal mode, shows the cursor and resets attributes.
void restore_terminal();

}  // namespace dravik
