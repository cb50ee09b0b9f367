// The housekeeping tick: keys, the user pause, resize, the refresh rate of
// progress and JSON map events, the terminal-UI sink, and the terminal mode
// set at start and restored at the end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>

#include "core/run/flags.h"
#include "core/text.h"
#include "core/run/event_sink.h"
#include "report/tui/screen/screen.h"
#include "app/run/heartbeat.h"
#include "report/tui/ui_loop.h"
#include "engine/map/memory_map.h"
#include "report/json/json_capture.h"
#include "report/json/json_sink.h"
#include "support/recording_sink.h"
#include "support/test_support.h"

namespace dravik {
namespace {

// Everything a non-blocking descriptor holds now.
std::string drain_fd(int fd) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

// Marks this thread as a worker for its lifetime. Each access to the flag
// sits in its own function: GCC 12 with UBSan misreads a second access to an
// extern thread_local in one function as a null store.
struct AsWorker {
  [[gnu::noinline]] AsWorker() { in_worker = 1; }
  [[gnu::noinline]] ~AsWorker() { in_worker = 0; }
};

// A pipe whose read end never blocks.
struct Pipe {
  int rd = -1, wr = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) {
      rd = fds[0];
      wr = fds[1];
      fcntl(rd, F_SETFL, O_NONBLOCK);
    }
  }
  ~Pipe() {
    if (rd >= 0) close(rd);
    if (wr >= 0) close(wr);
  }
  void send(const std::string& s) const { ASSERT_EQ(write(wr, s.data(), s.size()), ssize_t(s.size())); }
  std::string drain() const { return drain_fd(rd); }
};

struct DevNull {
  int fd = open("/dev/null", O_WRONLY);
  ~DevNull() { close(fd); }
};

class Heartbeat : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_flags();
    run = testing::make_run();
    run->ui.out_fd = devnull.fd;  // frames go nowhere unless a test looks at them
  }
  void TearDown() override { reset_process_flags(); }
  // The dashboard is on and keys come from the pipe.
  void with_keys() {
    run->ui.ui_active = 1;
    run->ui.keys_enabled = 1;
    run->ui.key_fd = keys.rd;
  }

  DevNull devnull;
  Pipe keys;
  std::unique_ptr<dravik::Run> run;
};

TEST_F(Heartbeat, MapGeometryForATerminal) {
  struct Case {
    int cols, rows, map_cols, map_rows;
  } cases[] = {{120, 40, 116, 23}, {120, 50, 116, 24}, {120, 10, 116, 3}, {100, 30, 96, 13},
               {80, 20, 76, 3},    {0, 0, 96, 13},     {80, 0, 96, 13},   {0, 40, 96, 13}};
  for (const Case& c : cases) {
    const MapDims d = map_dims_for_terminal(c.cols, c.rows);
    EXPECT_EQ(d.cols, c.map_cols) << c.cols << "x" << c.rows;
    EXPECT_EQ(d.rows, c.map_rows) << c.cols << "x" << c.rows;
  }
}

TEST_F(Heartbeat, KeysActOnTheRun) {
  struct Case {
    const char* bytes;
    int stop, pause, legend, info;
  } cases[] = {
      {"", 0, 0, 0, 0},     {"l", 0, 0, 1, 0},  {"lL", 0, 0, 0, 0}, {"iIi", 0, 0, 0, 1},
      {"P", 0, 1, 0, 0},    {"pp", 0, 0, 0, 0}, {"Q", 1, 0, 0, 0},  {"q", 1, 0, 0, 0},
      {"x\n\033[A7", 0, 0, 0, 0},
      // Function and cursor keys: F1 and F2 end in P and Q, Ctrl+F1 too.
      {"\033OP", 0, 0, 0, 0},    {"\033OQ", 0, 0, 0, 0},    {"\033[1;5P", 0, 0, 0, 0},
      {"\033[15~\033[24~", 0, 0, 0, 0}, {"\033OA\033[B\033Oq", 0, 0, 0, 0},
      // Keys after a sequence count again.
      {"\033[Al", 0, 0, 1, 0},    {"\033OPi", 0, 0, 0, 1},  {"\033[2;3Hq", 1, 0, 0, 0},
      {"\033\033[Pp", 0, 1, 0, 0},  // ESC ESC: the second one starts the sequence
  };
  for (const Case& c : cases) {
    SetUp();
    with_keys();
    keys.send(c.bytes);
    ui_poll_keys(*run);
    EXPECT_EQ(stop_requested.load(), c.stop) << c.bytes;
    EXPECT_EQ(pause_requested.load(), c.pause) << c.bytes;
    EXPECT_EQ(run->ui.legend_on, c.legend) << c.bytes;
    EXPECT_EQ(run->ui.info_on, c.info) << c.bytes;
    EXPECT_EQ(end_reason_of(run->st), c.stop ? EndReason::USER_STOP : EndReason::NONE) << c.bytes;
    EXPECT_EQ(keys.drain(), "") << "every pending byte is read";
  }
}

TEST_F(Heartbeat, SequenceSplitOverTwoReadsIsStillIgnored) {
  with_keys();
  keys.send("\033O");
  ui_poll_keys(*run);
  keys.send("P");
  ui_poll_keys(*run);
  keys.send("\033[1");
  ui_poll_keys(*run);
  keys.send("5~");
  ui_poll_keys(*run);
  EXPECT_EQ(pause_requested.load(), 0);
  keys.send("p");
  ui_poll_keys(*run);
  EXPECT_EQ(pause_requested.load(), 1);
}

TEST_F(Heartbeat, LoneEscapeKeyDoesNotSwallowTheNextKey) {
  with_keys();
  keys.send("\033");
  ui_poll_keys(*run);
  run->ui.esc_time -= 1.0;  // the ESC has been alone for a second
  keys.send("q");
  ui_poll_keys(*run);
  EXPECT_EQ(stop_requested.load(), 1);
}

TEST_F(Heartbeat, QuitKeepsAnAbortReasonRecordedFirst) {
  with_keys();
  set_end_reason_if_none(run->st, EndReason::PRESSURE_ABORT);
  keys.send("q");
  heartbeat(*run);
  EXPECT_EQ(stop_requested.load(), 1);
  EXPECT_EQ(end_reason_of(run->st), EndReason::PRESSURE_ABORT);
}

TEST_F(Heartbeat, PauseTwiceBetweenTicksKeepsRunning) {
  with_keys();
  keys.send("pp");
  const double start = now_seconds();
  heartbeat(*run);
  EXPECT_EQ(pause_requested.load(), 0);
  EXPECT_EQ(run->ui.paused_total, 0.0);
  EXPECT_EQ(run->ui.clock_frozen, 0);
  EXPECT_LT(now_seconds() - start, 5.0);  // it did not hold
}

TEST_F(Heartbeat, KeysAreNotReadWithoutRawMode) {
  run->ui.ui_active = 1;
  run->ui.key_fd = keys.rd;
  keys.send("ql");
  heartbeat(*run);
  EXPECT_EQ(stop_requested.load(), 0);
  EXPECT_EQ(run->ui.legend_on, 0);
  EXPECT_EQ(keys.drain(), "ql");
}

TEST_F(Heartbeat, ProgressAtMostEveryTenthOfASecond) {
  testing::RecordingSink sink(*run);
  heartbeat(*run);
  EXPECT_EQ(sink.count(EventKind::progress), 1);
  heartbeat(*run);
  heartbeat(*run);
  EXPECT_EQ(sink.count(EventKind::progress), 1);
  run->ui.last_refresh -= 0.1;
  heartbeat(*run);
  EXPECT_EQ(sink.count(EventKind::progress), 2);
  EXPECT_EQ(sink.count(EventKind::map), 0);  // the map is re-sent only in JSON mode
}

TEST_F(Heartbeat, TicksHalfARefreshApartGiveOneProgressPerRefresh) {
  testing::RecordingSink sink(*run);
  for (int i = 0; i < 20; ++i) {
    heartbeat(*run);
    run->ui.last_refresh -= 0.05;  // half a refresh passes before the next tick
  }
  // Every second tick is due, and never two within 0.1 s.
  EXPECT_EQ(sink.count(EventKind::progress), 10);
}

// Map lines of the real JSON sink around a set-up map: none for a run without
// a map (BENCH), and the periodic one only a second after the set-up map.
TEST_F(Heartbeat, JsonMapLinesOnlyForAMapAndASecondAfterAnyMapLine) {
  const struct {
    RunMode mode;
    int maps_after_a_second;
  } cases[] = {{RunMode::PRODUCTION, 1}, {RunMode::OFFLINE, 1}, {RunMode::BENCH, 0}};
  for (const auto& c : cases) {
    SetUp();
    run->cfg.output = OutputStyle::json;
    run->cfg.mode = c.mode;
    run->sink = json_sink(*run);
    testing::JsonCapture capture;
    auto maps = [&capture] {
      int n = 0;
      for (const std::string& line : capture.lines()) n += line.rfind("{\"event\":\"map\"", 0) == 0;
      return n;
    };
    if (c.mode != RunMode::BENCH) {  // the map set-up
      map_setup(run->map, run->phys.ram_ranges, run->st, 10, 4);
      emit_event(run->sink, EventKind::map);
    }
    const int set_up = maps();
    heartbeat(*run);  // 0.1 s after the set-up map: no second map
    EXPECT_EQ(maps(), set_up) << static_cast<int>(c.mode);
    run->ui.last_refresh -= 1.0;
    run->json.last_map_line -= 1.0;
    heartbeat(*run);
    EXPECT_EQ(maps(), set_up + c.maps_after_a_second) << static_cast<int>(c.mode);
  }
}

TEST_F(Heartbeat, WorkerThreadTickDoesNothing) {
  testing::RecordingSink sink(*run);
  {
    AsWorker worker;
    heartbeat(*run);
  }
  EXPECT_EQ(sink.count(EventKind::progress), 0);
}

// A pseudo-terminal of a given size standing in for standard output.
struct Pty {
  int master = -1, slave = -1;
  Pty(int cols, int rows) {
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    if (openpty(&master, &slave, nullptr, nullptr, &ws) == 0) {
      termios t{};
      tcgetattr(slave, &t);
      cfmakeraw(&t);
      tcsetattr(slave, TCSANOW, &t);
      fcntl(master, F_SETFL, O_NONBLOCK);
    }
  }
  ~Pty() {
    close(master);
    close(slave);
  }
  void resize(int cols, int rows) const {
    winsize ws{};
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    ioctl(slave, TIOCSWINSZ, &ws);
  }
};

TEST_F(Heartbeat, ResizeRebuildsTheMapForTheNewHeight) {
  Pty pty(120, 40);
  ASSERT_GE(pty.slave, 0);
  run->ui.ui_active = 1;
  run->ui.out_fd = pty.slave;
  testing::RecordingSink sink(*run);
  struct Case {
    int cols, rows, map_cols, map_rows;
  } cases[] = {{120, 40, 116, 23}, {100, 50, 96, 24}, {80, 10, 76, 3}};
  for (const Case& c : cases) {
    pty.resize(c.cols, c.rows);
    const int maps = sink.count(EventKind::map);
    resize_pending = 1;
    run->ui.last_refresh = now_seconds() + 60;  // no redraw due: a pty holds only a few KiB
    heartbeat(*run);
    EXPECT_EQ(resize_pending.load(), 0);
    EXPECT_EQ(run->map.cols, c.map_cols);
    EXPECT_EQ(run->map.rows, c.map_rows);
    EXPECT_EQ(sink.count(EventKind::map), maps + 1);
  }
}

TEST_F(Heartbeat, ResizeKeepsTheFaultMarks) {
  Pty pty(120, 40);
  ASSERT_GE(pty.slave, 0);
  run->ui.ui_active = 1;
  run->ui.out_fd = pty.slave;
  run->st.budget = 1ull << 30;
  map_setup(run->map, run->phys.ram_ranges, run->st, 116, 23);
  set_cell_state(run->map, 1000, static_cast<uint8_t>(CellState::fault));
  set_cell_state(run->map, 2000, static_cast<uint8_t>(CellState::suspect));
  for (int rows : {30, 50}) {
    pty.resize(100, rows);
    resize_pending = 1;
    run->ui.last_refresh = now_seconds() + 60;
    heartbeat(*run);
    int hard = 0, suspect = 0;
    for (int32_t i = 0; i < run->map.cells; ++i) {
      hard += run->map.get(i) == static_cast<uint8_t>(CellState::fault);
      suspect += run->map.get(i) == static_cast<uint8_t>(CellState::suspect);
    }
    EXPECT_EQ(hard, 1) << rows;
    EXPECT_EQ(suspect, 1) << rows;
  }
}

TEST_F(Heartbeat, ResizeWithoutTheDashboardIsOnlyCleared) {
  testing::RecordingSink sink(*run);
  resize_pending = 1;
  heartbeat(*run);
  EXPECT_EQ(resize_pending.load(), 0);
  EXPECT_EQ(run->map.cells, 0);
  EXPECT_EQ(sink.count(EventKind::map), 0);
}

TEST_F(Heartbeat, UiSinkRedrawsOnTheKindsThatCarryNews) {
  Pipe out;
  run->ui.out_fd = out.wr;
  run->sink = ui_sink(*run);
  const struct {
    EventKind kind;
    bool draws;
  } cases[] = {{EventKind::start, false},   {EventKind::map, true},         {EventKind::phase, true},
               {EventKind::progress, false}, {EventKind::cell, false},     {EventKind::fault, true},
               {EventKind::pressure, true},  {EventKind::bench_point, false}, {EventKind::bench_summary, false},
               {EventKind::log, true},       {EventKind::klog, true}};
  for (int active : {1, 0}) {
    run->ui.ui_active = active;
    for (const auto& c : cases) {
      emit_event(run->sink, c.kind);
      const std::string frame = out.drain();
      EXPECT_EQ(!frame.empty(), c.draws && active) << static_cast<int>(c.kind) << " active " << active;
      if (!frame.empty()) {
        EXPECT_EQ(frame.rfind("\033[?2026h", 0), 0u);
      }
    }
  }
}

TEST_F(Heartbeat, DrawFrameWritesOneWholeFrame) {
  Pipe out;
  run->ui.out_fd = out.wr;  // not a terminal: drawn at 100 x 30
  draw_frame(*run);
  const std::string frame = out.drain();
  EXPECT_EQ(frame.rfind("\033[?2026h", 0), 0u);
  EXPECT_EQ(frame.substr(frame.size() - 8), "\033[?2026l");
  EXPECT_EQ(run->map.cols, 96);
  {
    AsWorker worker;
    draw_frame(*run);
  }
  EXPECT_EQ(out.drain(), "");
}

// --- the pause hold (a second thread presses the keys) ---------------------

// The hold draws its first frame once it holds: the presser waits for it on
// a pipe, then lets the pause last 0.3 s (the time the pause must not count).
class UiHoldThreads : public Heartbeat {
 protected:
  void with_frames() {
    fcntl(frames.wr, F_SETFL, O_NONBLOCK);  // frames past the pipe's room are dropped
    run->ui.out_fd = frames.wr;
    frames.drain();  // nothing left from an earlier hold
  }
  bool wait_for_hold() const {
    pollfd first{frames.rd, POLLIN, 0};
    return poll(&first, 1, 60000) == 1;
  }
  Pipe frames;
};

TEST_F(UiHoldThreads, QuitDuringAPauseEndsTheHold) {
  for (bool abort_first : {false, true}) {
    SetUp();
    with_keys();
    with_frames();
    if (abort_first) set_end_reason_if_none(run->st, EndReason::STRICT_MLOCK_ABORT);
    testing::RecordingSink sink(*run);
    pause_requested = 1;
    std::thread presser([this] {
      if (wait_for_hold()) usleep(300000);
      keys.send("q");
    });
    const double start = now_seconds();
    heartbeat(*run);
    presser.join();
    EXPECT_GE(now_seconds() - start, 0.25);
    EXPECT_EQ(stop_requested.load(), 1);
    EXPECT_EQ(end_reason_of(run->st),
              abort_first ? EndReason::STRICT_MLOCK_ABORT : EndReason::USER_STOP);
    EXPECT_EQ(run->ui.hold_shown, 0);
    EXPECT_EQ(run->ui.clock_frozen, 0);
    EXPECT_GE(run->ui.paused_total, 0.25);
    EXPECT_EQ(sink.count(EventKind::progress), 1);  // none while held; one on the way out
  }
}

TEST_F(UiHoldThreads, PauseKeyAgainResumesAndThePauseIsNotRunTime) {
  with_keys();
  with_frames();
  pause_requested = 1;
  std::thread presser([this] {
    if (wait_for_hold()) usleep(300000);
    keys.send("p");
  });
  heartbeat(*run);
  presser.join();
  EXPECT_EQ(stop_requested.load(), 0);
  EXPECT_EQ(pause_requested.load(), 0);
  EXPECT_GE(run->ui.paused_total, 0.25);
  EXPECT_LT(run->ui.paused_total, 30.0);
}

TEST_F(UiHoldThreads, HoldWithoutTheDashboardClearsResizes) {
  pause_requested = 1;
  resize_pending = 1;
  std::thread releaser([] {
    // The hold clears the pending resize once it holds.
    const double deadline = now_seconds() + 60.0;
    while (resize_pending.load() != 0 && now_seconds() < deadline) usleep(1000);
    usleep(200000);
    pause_requested = 0;
  });
  heartbeat(*run);
  releaser.join();
  EXPECT_EQ(resize_pending.load(), 0);
  EXPECT_EQ(run->map.cells, 0);
  EXPECT_GT(run->ui.paused_total, 0.1);
}

// --- terminal mode (in a child: the exit handler is process-wide) ----------

// Runs fn in a forked child and returns its exit status; the child leaves
// with _exit, so the exit handler registered by ui_start never runs here.
int in_child(const std::function<int()>& fn) {
  fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(UiStartTest, RawKeysOnATerminalAndRestoredAfterTheRunIsGone) {
  const int code = in_child([] {
    Pty pty(100, 30);
    Pipe out;
    termios before{};
    if (tcgetattr(pty.slave, &before) != 0) return 1;
    before.c_lflag |= ICANON | ECHO;
    tcsetattr(pty.slave, TCSANOW, &before);
    {
      auto run = testing::make_run();
      run->ui.key_fd = pty.slave;
      run->ui.out_fd = out.wr;
      ui_start(*run);
      if (!run->ui.ui_active || !run->ui.keys_enabled) return 2;
      termios raw{};
      tcgetattr(pty.slave, &raw);
      if ((raw.c_lflag & (ICANON | ECHO)) != 0 || raw.c_cc[VMIN] != 0 || raw.c_cc[VTIME] != 0) return 3;
      if (out.drain() != "\033[?25l\033[2J\033[H") return 4;
      restore_terminal();  // the end of the run restores once explicitly
      if (run->ui.keys_enabled) return 5;
      termios after{};
      tcgetattr(pty.slave, &after);
      if (after.c_lflag != before.c_lflag || after.c_cc[VMIN] != before.c_cc[VMIN]) return 6;
      if (out.drain() != "\033[?25h\033[0m\n") return 7;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);  // mode changed again behind our back
      tcsetattr(pty.slave, TCSANOW, &raw);
    }
    // The exit handler runs after the run is gone: only the cursor and
    // attributes again; the mode was already given back.
    restore_terminal();
    termios last{};
    tcgetattr(pty.slave, &last);
    if ((last.c_lflag & ICANON) != 0) return 8;
    if (out.drain() != "\033[?25h\033[0m\n") return 9;
    return 0;
  });
  EXPECT_EQ(code, 0);
}

TEST(UiStartTest, NoKeysWhenInputIsNotATerminal) {
  const int code = in_child([] {
    Pipe in, out;
    auto run = testing::make_run();
    run->cfg.output = OutputStyle::glyph_dashboard;
    run->cfg.mode = RunMode::OFFLINE;
    run->ui.key_fd = in.rd;
    run->ui.out_fd = out.wr;
    ui_start(*run);
    if (!run->ui.ui_active || run->ui.keys_enabled) return 1;
    if (out.drain() != "\033[2J\033[H") return 2;
    restore_terminal();
    if (out.drain() != "\033[?25h\033[0m\n") return 3;
    return 0;
  });
  EXPECT_EQ(code, 0);
}

TEST(UiStartTest, BenchHclAndJsonLeaveTheTerminalAlone) {
  const struct {
    RunMode mode;
    OutputStyle style;
  } cases[] = {{RunMode::BENCH, OutputStyle::ascii_dashboard},
               {RunMode::HCL, OutputStyle::glyph_dashboard},
               {RunMode::PRODUCTION, OutputStyle::json}};
  for (const auto& c : cases) {
    const int code = in_child([&c] {
      Pty pty(100, 30);
      Pipe out;
      auto run = testing::make_run();
      run->cfg.mode = c.mode;
      run->cfg.output = c.style;
      run->ui.key_fd = pty.slave;
      run->ui.out_fd = out.wr;
      termios before{};
      tcgetattr(pty.slave, &before);
      ui_start(*run);
      if (run->ui.ui_active || run->ui.keys_enabled) return 1;
      termios after{};
      tcgetattr(pty.slave, &after);
      if (after.c_lflag != before.c_lflag) return 2;
      restore_terminal();  // nothing was prepared: nothing to write
      if (!out.drain().empty()) return 3;
      return 0;
    });
    EXPECT_EQ(code, 0) << static_cast<int>(c.mode);
  }
}

}  // namespace
}  // namespace dravik
