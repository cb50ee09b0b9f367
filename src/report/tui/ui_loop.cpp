#include "report/tui/ui_loop.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/run/flags.h"
#include "report/run_view.h"
#include "report/tui/draw/ansi.h"
#include "core/text.h"
#include "report/tui/screen/screen.h"
#include "report/tui/draw/screen_frame.h"

namespace dravik {

namespace {

// The terminal is a process-wide resource, and the exit handler may run
// after the run that prepared it is gone. So the mode to restore is kept
// here, and the live UI state (to clear its keys flag) only as a pointer that
// the state withdraws when it dies.
struct TerminalGuard {
  int32_t prepared = 0;
  int32_t keys_enabled = 0;
  int in_fd = STDIN_FILENO;
  int out_fd = STDOUT_FILENO;
  termios saved{};
  UiState* owner = nullptr;
};
TerminalGuard g_terminal;

void write_text(int fd, const char* text) {
  fflush(stdout);  // anything stdio holds goes out first
  size_t n = strlen(text);
  while (n > 0) {
    const ssize_t w = write(fd, text, n);
    if (w > 0) {
      text += w;
      n -= static_cast<size_t>(w);
    } else if (!(w < 0 && errno == EINTR)) {
      return;
    }
  }
}

// Escape sequences of function and cursor keys are read whole and ignored:
// ESC [ parameters final (CSI, e.g. ESC [ A, ESC [ 15 ~), ESC O x (SS3, e.g.
// F1 = ESC O P), and ESC followed by any other byte (Alt+key).
constexpr unsigned char kEsc = 0x1b;
constexpr int32_t kPlain = 0, kAfterEsc = 1, kInCsi = 2, kInSs3 = 3;
constexpr double kLoneEscSeconds = 0.1;

void skip_sequence_byte(UiState& ui, unsigned char byte) {
  switch (ui.esc_state) {
    case kPlain:  // byte is ESC
      ui.esc_state = kAfterEsc;
      ui.esc_time = now_seconds();
      break;
    case kAfterEsc:
      if (byte == '[') {
        ui.esc_state = kInCsi;
      } else if (byte == 'O') {
        ui.esc_state = kInSs3;
      } else if (byte == kEsc) {
        ui.esc_time = now_seconds();
      } else {
        ui.esc_state = kPlain;
      }
      break;
    case kInCsi:
      // Parameter and intermediate bytes (0x20..0x3f) continue it; the final
      // byte, or anything malformed, ends it.
      if (byte < 0x20 || byte > 0x3f) ui.esc_state = byte == kEsc ? kAfterEsc : kPlain;
      if (byte == kEsc) ui.esc_time = now_seconds();
      break;
    default:  // the one byte after ESC O
      ui.esc_state = kPlain;
      break;
  }
}

}  // namespace

UiState::~UiState() {
  if (g_terminal.owner == this) g_terminal.owner = nullptr;
}

MapDims map_dims_for_terminal(int32_t term_cols, int32_t term_rows) {
  if (term_cols <= 0 || term_rows <= 0) return {96, 13};
  const int32_t rows = term_rows - 17;
  return {term_cols - 4, rows < 3 ? 3 : (rows > 24 ? 24 : rows)};
}

void ui_start(RunView& run) {
  UiState& ui = run.ui;
  const bool dashboard = (run.cfg.output == OutputStyle::ascii_dashboard ||
                          run.cfg.output == OutputStyle::glyph_dashboard) &&
                         (run.cfg.mode == RunMode::PRODUCTION || run.cfg.mode == RunMode::OFFLINE);
  if (!dashboard) return;  // BENCH, HCL and JSON runs leave the terminal alone
  ui.ui_active = 1;
  ui.ui_start_time = now_seconds();

  g_terminal.in_fd = ui.key_fd;
  g_terminal.out_fd = ui.out_fd;
  g_terminal.owner = &ui;
  termios mode{};
  if (isatty(ui.key_fd) && tcgetattr(ui.key_fd, &mode) == 0) {
    ui.saved_termios = mode;
    mode.c_cc[VMIN] = 0;  // reads return at once, with or without a key
    mode.c_cc[VTIME] = 0;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    if (tcsetattr(ui.key_fd, TCSANOW, &mode) == 0) {
      g_terminal.saved = ui.saved_termios;
      g_terminal.keys_enabled = 1;
      write_text(ui.out_fd, kCursorHide);
      ui.keys_enabled = 1;
    }
  }
  if (!g_terminal.prepared) {
    g_terminal.prepared = 1;
    atexit(restore_terminal);
  }
  write_text(ui.out_fd, kClearScreenHome);
}

void restore_terminal() {
  if (!g_terminal.prepared) return;
  if (g_terminal.keys_enabled) {
    tcsetattr(g_terminal.in_fd, TCSANOW, &g_terminal.saved);
    g_terminal.keys_enabled = 0;
  }
  if (g_terminal.owner != nullptr) g_terminal.owner->keys_enabled = 0;
  write_text(g_terminal.out_fd, TERM_CURSOR_SHOW SGR_RESET "\n");
}

void ui_poll_keys(RunView& run) {
  UiState& ui = run.ui;
  // A terminal sends a whole sequence in one write; an ESC still alone after
  // this long was the Escape key itself.
  if (ui.esc_state == kAfterEsc && now_seconds() - ui.esc_time > kLoneEscSeconds) {
    ui.esc_state = kPlain;
  }
  unsigned char key = 0;
  while (read(ui.key_fd, &key, 1) == 1) {
    if (ui.esc_state != kPlain || key == kEsc) {
      skip_sequence_byte(ui, key);
      continue;
    }
    switch (key) {
      case 'q':
      case 'Q':
        stop_requested.store(1, std::memory_order_relaxed);
        set_end_reason_if_none(run.st, EndReason::USER_STOP);
        break;
      case 'p':
      case 'P':
        pause_requested.fetch_xor(1, std::memory_order_relaxed);
        break;
      case 'l':
      case 'L':
        ui.legend_on = !ui.legend_on;
        break;
      case 'i':
      case 'I':
        ui.info_on = !ui.info_on;
        break;
      default:
        break;
    }
  }
}

}  // namespace dravik
