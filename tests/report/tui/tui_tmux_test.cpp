// The dashboard on a real terminal: the dravik binary runs inside a detached
// tmux session (on a private server socket, never a user's), the tests read
// the screen with capture-pane and press keys with send-keys.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "support/test_support.h"

namespace dravik {
namespace {

using testing::run_process;

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool has(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

class TmuxSession {
 public:
  // Starts script (run by /bin/sh in the pane) in a window of cols x rows.
  TmuxSession(const std::string& script, int cols, int rows) {
    static int serial = 0;
    socket_ = "dravik-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
    ok_ = tmux({"new-session", "-d", "-s", "t", "-x", std::to_string(cols), "-y", std::to_string(rows),
                "/bin/sh -c '" + script + "'"})
              .exit_code == 0;
  }
  ~TmuxSession() { tmux({"kill-server"}); }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  bool ok() const { return ok_; }
  std::string screen() const { return tmux({"capture-pane", "-p", "-t", "t"}).out; }
  std::string format(const std::string& fmt) const {
    std::string out = tmux({"display-message", "-p", "-t", "t", fmt}).out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  void keys(const std::string& k) const { tmux({"send-keys", "-t", "t", k}); }
  void resize(int cols, int rows) const {
    tmux({"resize-window", "-t", "t", "-x", std::to_string(cols), "-y", std::to_string(rows)});
  }
  // Polls the screen until done(screen) holds on a settled screen (two
  // captures alike: a capture can fall in the middle of a frame, since this
  // tmux does not hold back synchronized updates); returns the last screen.
  std::string wait_until(const std::function<bool(const std::string&)>& done, double seconds = 20.0) const {
    const double deadline = now_seconds() + seconds;
    std::string s;
    do {
      s = screen();
      if (done(s)) {
        usleep(20000);
        if (screen() == s) return s;
      }
      usleep(50000);
    } while (now_seconds() < deadline);
    return s;
  }
  // Polls until a whole frame `cols` wide holds every needle: a capture can
  // hold a frame half drawn when a slow build stalls mid-frame for longer
  // than the settle check, so every row must be as wide as the window.
  std::string wait_for_frame(size_t cols, const std::vector<std::string>& needles) const {
    return wait_until([&](const std::string& s) {
      for (const std::string& n : needles) {
        if (!has(s, n)) return false;
      }
      for (const std::string& line : split_lines(s)) {
        if (!line.empty() && visible_width(line.c_str()) != cols) return false;
      }
      return true;
    });
  }
  // Polls until the screen contains every needle.
  std::string wait_for(const std::vector<std::string>& needles, double seconds = 20.0) const {
    return wait_until(
        [&](const std::string& s) {
          for (const std::string& n : needles) {
            if (!has(s, n)) return false;
          }
          return true;
        },
        seconds);
  }

 private:
  testing::ProcResult tmux(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"/usr/bin/tmux", "-f", "/dev/null", "-L", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    testing::ProcOptions opts;
    opts.timeout_s = 20;
    return run_process(argv, opts);
  }

  std::string socket_;
  bool ok_ = false;
};

// Waits until the script wrote its exit line; returns it ("" on timeout).
std::string wait_exit(const std::string& path, double seconds = 60.0) {
  const double deadline = now_seconds() + seconds;
  while (now_seconds() < deadline) {
    const std::string s = read_file(path);
    if (has(s, "\n")) return s.substr(0, s.find('\n'));
    usleep(100000);
  }
  return "";
}

// The row of a screen holding needle, "" when none does.
std::string row_with(const std::string& screen, const std::string& needle) {
  for (const std::string& line : split_lines(screen)) {
    if (has(line, needle)) return line;
  }
  return "";
}

class TuiTmux : public ::testing::Test {
 protected:
  // An endless run that stays in its first pass for many seconds: the
  // standard tests over 16 MiB regions of a 128 MiB budget.
  std::string endless_run() const {
    return testing::dravik_binary() + " --mem 128M --chunk 16 --passes 0 --seed 0x5eed";
  }
  // Runs command in the pane with the terminal mode saved before and after.
  std::string framed(const std::string& command) const {
    return "stty -a > " + dir.sub("before") + "; " + command + "; echo EXIT=$? > " + dir.sub("exit") +
           "; stty -a > " + dir.sub("after") + "; sleep 60";
  }
  testing::TempDir dir;
};

TEST_F(TuiTmux, DashboardRowsAndKeys) {
  TmuxSession tmux(framed(endless_run()), 120, 40);
  ASSERT_TRUE(tmux.ok());
  // The first frames come before the scheduler has laid out the budget.
  std::string s = tmux.wait_for_frame(120, {"Pass 1/∞", "Tested 128.00MiB", "Running", "q:Quit",
                                            "Covered", "STATUS", "KERNEL LOG", "FAULTS"});
  const std::vector<std::string> lines = split_lines(s);
  ASSERT_GE(lines.size(), 30u) << s;
  EXPECT_EQ(visible_width(lines[0].c_str()), 120u) << lines[0];
  EXPECT_EQ(lines[0].rfind("┌", 0), 0u);
  EXPECT_TRUE(has(lines[1], " DRAVIK v0.6.0 ") && has(lines[1], " PRODUCTION ")) << lines[1];
  EXPECT_TRUE(has(lines[2], "MemTotal") && has(lines[2], "Tested 128.00MiB")) << lines[2];
  EXPECT_TRUE(has(lines[3], "MEMORY MAP 2668 cells")) << lines[3];  // 116 x 23
  EXPECT_TRUE(has(s, "Pass 1/∞")) << s;
  EXPECT_TRUE(has(s, "Covered") && has(s, "STATUS") && has(s, "KERNEL LOG") && has(s, "FAULTS")) << s;
  const std::string footer = row_with(s, "q:Quit");
  EXPECT_TRUE(has(footer, "p:Pause") && has(footer, "i:Info") && has(footer, "l:Legend")) << footer;
  for (const std::string& line : lines) {
    if (!line.empty()) {
      EXPECT_EQ(visible_width(line.c_str()), 120u) << line;
    }
  }
  EXPECT_EQ(tmux.format("#{cursor_flag}"), "0");  // hidden while the dashboard runs

  // Pause: the clock and the progress stand still.
  tmux.keys("p");
  s = tmux.wait_for({"PAUSED by user", "p:Resume"});
  ASSERT_TRUE(has(s, "PAUSED by user")) << s;
  const std::string held_counters = row_with(s, "Covered");
  const std::string held_status = row_with(s, "Window");
  EXPECT_TRUE(has(held_status, "PAUSED")) << held_status;
  usleep(2500000);  // a window in which nothing may move
  s = tmux.screen();
  EXPECT_EQ(row_with(s, "Covered"), held_counters);
  EXPECT_EQ(row_with(s, "Window"), held_status);

  // Resume: time moves again.
  tmux.keys("p");
  s = tmux.wait_for({"Running", "p:Pause"});
  EXPECT_FALSE(has(s, "PAUSED by user")) << s;
  s = tmux.wait_until([&](const std::string& screen) { return row_with(screen, "Covered") != held_counters; });
  EXPECT_NE(row_with(s, "Covered"), held_counters);

  tmux.keys("l");
  s = tmux.wait_for({" untested", " suspect", " FAULT"});
  EXPECT_TRUE(has(row_with(s, " untested"), " reserved")) << s;
  tmux.keys("i");
  s = tmux.wait_for({"seed 0x0000000000005eed", "hard-thr=2"});
  EXPECT_TRUE(has(s, "seed 0x0000000000005eed")) << s;
  tmux.keys("l");
  s = tmux.wait_until([](const std::string& screen) { return row_with(screen, " untested").empty(); });
  EXPECT_EQ(row_with(s, " untested"), "") << s;
  EXPECT_TRUE(has(s, "seed 0x")) << s;

  // Quit: the summary on a cleared screen.
  tmux.keys("q");
  EXPECT_EQ(wait_exit(dir.sub("exit")), "EXIT=0");
  s = tmux.wait_for({"stopped by user"});
  EXPECT_TRUE(has(s, "stopped by user")) << s;
  EXPECT_FALSE(has(s, "MEMORY MAP") || has(s, "q:Quit")) << s;
  EXPECT_EQ(tmux.format("#{cursor_flag}"), "1");
}

TEST_F(TuiTmux, ResizeRedrawsAtTheNewWidthWithARebuiltMap) {
  TmuxSession tmux(framed(endless_run()), 120, 40);
  ASSERT_TRUE(tmux.ok());
  std::string s = tmux.wait_for({"MEMORY MAP 2668 cells", "Pass 1/∞"});
  ASSERT_TRUE(has(s, "MEMORY MAP 2668 cells")) << s;

  tmux.resize(100, 30);
  s = tmux.wait_for_frame(100, {"MEMORY MAP 1248 cells", "q:Quit"});  // 96 x 13
  const std::vector<std::string> lines = split_lines(s);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(visible_width(lines[0].c_str()), 100u) << lines[0];
  EXPECT_TRUE(has(s, "MEMORY MAP 1248 cells")) << s;
  const std::string footer = row_with(s, "q:Quit");
  EXPECT_EQ(visible_width(footer.c_str()), 100u) << footer;

  tmux.resize(140, 50);
  s = tmux.wait_for({"MEMORY MAP 3264 cells"});  // 136 x 24
  EXPECT_TRUE(has(s, "MEMORY MAP 3264 cells")) << s;
  tmux.keys("q");
  EXPECT_EQ(wait_exit(dir.sub("exit")), "EXIT=0");
}

// Function and cursor keys send escape sequences whose last byte may be a
// key letter (F1 is ESC O P, F2 ESC O Q): none of them pauses or quits.
TEST_F(TuiTmux, FunctionAndCursorKeysAreIgnored) {
  TmuxSession tmux(framed(endless_run()), 120, 40);
  ASSERT_TRUE(tmux.ok());
  std::string s = tmux.wait_for({"Pass 1/∞", "Running", "q:Quit"});
  ASSERT_TRUE(has(s, "q:Quit")) << s;
  for (const char* key : {"F1", "F2", "Up", "Down", "Left", "Right", "F5", "F12", "Home", "PageUp"}) {
    tmux.keys(key);
  }
  // Keys are read in order: once the legend key shows, every sequence
  // before it was read.
  tmux.keys("l");
  s = tmux.wait_for({" untested", "Running", "p:Pause"});
  EXPECT_TRUE(has(s, "Running") && has(s, "p:Pause")) << s;
  EXPECT_FALSE(has(s, "PAUSED by user")) << s;
  EXPECT_EQ(read_file(dir.sub("exit")), "") << "still running";
  tmux.keys("p");  // keys still work after the sequences
  s = tmux.wait_for({"PAUSED by user"});
  EXPECT_TRUE(has(s, "PAUSED by user")) << s;
  tmux.keys("q");
  EXPECT_EQ(wait_exit(dir.sub("exit")), "EXIT=0");
}

// The terminal mode and the cursor come back however the run ends.
TEST_F(TuiTmux, TerminalIsRestoredAfterEveryKindOfEnd) {
  enum class End { completed, quit_key, sigint };
  for (End end : {End::completed, End::quit_key, End::sigint}) {
    testing::TempDir run_dir;
    const std::string pid_file = run_dir.sub("pid");
    // The inner shell gives dravik the pane's terminal as its standard
    // input while its pid is known for the signal.
    std::string command = "sh -c \"echo \\$\\$ > " + pid_file + "; exec " + testing::dravik_binary();
    command += end == End::completed ? " --quick --mem 32M --passes 1\"" : " --mem 128M --chunk 16 --passes 0\"";
    const std::string script = "stty -a > " + run_dir.sub("before") + "; " + command + "; echo EXIT=$? > " +
                               run_dir.sub("exit") + "; stty -a > " + run_dir.sub("after") + "; sleep 60";
    TmuxSession tmux(script, 120, 40);
    ASSERT_TRUE(tmux.ok());
    if (end != End::completed) {  // a completed run may be over before the first capture
      const std::string s = tmux.wait_for({"q:Quit"});
      ASSERT_TRUE(has(s, "q:Quit")) << s;
    }
    if (end == End::quit_key) tmux.keys("q");
    if (end == End::sigint) {
      const pid_t pid = static_cast<pid_t>(std::stol("0" + read_file(pid_file)));
      ASSERT_GT(pid, 0);
      kill(pid, SIGINT);
    }
    EXPECT_EQ(wait_exit(run_dir.sub("exit")), "EXIT=0");
    const double deadline = now_seconds() + 10;
    while (read_file(run_dir.sub("after")).empty() && now_seconds() < deadline) usleep(100000);
    const std::string before = read_file(run_dir.sub("before"));
    EXPECT_TRUE(has(before, " icanon") && has(before, " echo ")) << before;
    EXPECT_EQ(read_file(run_dir.sub("after")), before) << static_cast<int>(end);
    EXPECT_EQ(tmux.format("#{cursor_flag}"), "1") << static_cast<int>(end);
    const std::string summary = tmux.wait_for({"End reason"});
    EXPECT_TRUE(has(summary, end == End::completed ? "completed" : "stopped by user")) << summary;
  }
}

TEST_F(TuiTmux, WithoutATerminalTheRunStillDrawsAndReadsNoKeys) {
  // Keys on standard input would stop the run if they were read.
  const std::string out_file = dir.sub("screen.out");
  const testing::ProcResult r = run_process(
      {"/bin/sh", "-c",
       "printf qqqq | " + testing::dravik_binary() + " --quick --mem 32M --passes 1 > " + out_file});
  const std::string out = read_file(out_file);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // No raw mode: the start clears the screen without hiding the cursor first.
  EXPECT_EQ(out.rfind("\033[2J\033[H\033[?2026h", 0), 0u) << out.substr(0, 40);
  EXPECT_TRUE(has(out, "\033[?2026l"));
  EXPECT_TRUE(has(out, "MEMORY MAP"));
  EXPECT_TRUE(has(out, "\033[?25h\033[0m\n"));
  EXPECT_TRUE(has(out, "completed")) << out.substr(out.size() > 3000 ? out.size() - 3000 : 0);
  EXPECT_FALSE(has(out, "stopped by user"));
}

}  // namespace
}  // namespace dravik
