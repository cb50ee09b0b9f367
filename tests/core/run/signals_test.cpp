// The signal handler only sets flags: SIGINT/SIGTERM stop the run with
// USER_STOP and SIGHUP with HANGUP unless another reason came first, SIGWINCH
// asks for a resize.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include "core/run/flags.h"
#include "app/run/run.h"
#include "core/run/state.h"

namespace dravik {
namespace {

class Signals : public ::testing::Test {
 protected:
  void SetUp() override { reset_process_flags(); }
  void TearDown() override {
    defaults();
    install_signal_handlers(nullptr);
    defaults();
    reset_process_flags();
  }
  static void defaults() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGWINCH, SIGPIPE}) signal(sig, SIG_DFL);
  }
};

TEST_F(Signals, InterruptSetsStopAndUserStopAndASecondOneChangesNothingElse) {
  RunState st;
  install_signal_handlers(&st.end_reason);
  raise(SIGINT);
  EXPECT_TRUE(stopping());
  EXPECT_EQ(end_reason_of(st), EndReason::USER_STOP);
  raise(SIGINT);  // no forced exit: still here, same state
  EXPECT_TRUE(stopping());
  EXPECT_EQ(end_reason_of(st), EndReason::USER_STOP);
}

TEST_F(Signals, TerminateKeepsAnEarlierReason) {
  RunState st;
  force_end_reason(st, EndReason::PRESSURE_ABORT);
  install_signal_handlers(&st.end_reason);
  raise(SIGTERM);
  EXPECT_TRUE(stopping());
  EXPECT_EQ(end_reason_of(st), EndReason::PRESSURE_ABORT);
}

TEST_F(Signals, HangupStopsWithItsOwnReasonAndKeepsAnEarlierOne) {
  RunState hung;
  install_signal_handlers(&hung.end_reason);
  raise(SIGHUP);  // would end the test binary if not handled
  EXPECT_TRUE(stopping());
  EXPECT_EQ(end_reason_of(hung), EndReason::HANGUP);
  raise(SIGINT);
  EXPECT_EQ(end_reason_of(hung), EndReason::HANGUP) << "the first cause wins";
  reset_process_flags();
  RunState stopped;
  install_signal_handlers(&stopped.end_reason);
  raise(SIGTERM);
  raise(SIGHUP);
  EXPECT_EQ(end_reason_of(stopped), EndReason::USER_STOP);
}

TEST_F(Signals, HangupIgnoredBeforeTheRunStaysIgnored) {
  signal(SIGHUP, SIG_IGN);  // as nohup leaves it
  RunState st;
  install_signal_handlers(&st.end_reason);
  raise(SIGHUP);
  EXPECT_FALSE(stopping());
  EXPECT_EQ(end_reason_of(st), EndReason::NONE);
}

TEST_F(Signals, WindowChangeOnlyAsksForAResize) {
  RunState st;
  install_signal_handlers(&st.end_reason);
  raise(SIGWINCH);
  EXPECT_EQ(resize_pending.load(), 1);
  EXPECT_FALSE(stopping());
  EXPECT_EQ(end_reason_of(st), EndReason::NONE);
}

TEST_F(Signals, BrokenPipeIsIgnored) {
  RunState st;
  install_signal_handlers(&st.end_reason);
  raise(SIGPIPE);  // would kill the test binary if not ignored
  EXPECT_FALSE(stopping());
}

// The exit-time terminal restore can still be writing when the run is gone;
// a signal then must not reach into the freed run.
TEST_F(Signals, InterruptAfterTheRunIsFreedTouchesNothingOfIt) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto run = std::make_unique<dravik::Run>();  // large enough to be unmapped when freed
    install_signal_handlers(&run->st.end_reason);
    run.reset();
    raise(SIGINT);
    raise(SIGTERM);
    _exit(stopping() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "still stops the run";
}

TEST(EndReasons, FirstCauseWinsButAllocationAbortsOverwrite) {
  RunState st;
  set_end_reason_if_none(st, EndReason::USER_STOP);
  set_end_reason_if_none(st, EndReason::COMPLETED);
  EXPECT_EQ(end_reason_of(st), EndReason::USER_STOP);
  force_end_reason(st, EndReason::ALLOC_ABORT);
  EXPECT_EQ(end_reason_of(st), EndReason::ALLOC_ABORT);
  EXPECT_STREQ(end_reason_text(2), "aborted: system memory pressure limits exceeded");
  EXPECT_STREQ(end_reason_text(4), "aborted: mlock failed in --strict mode");
  EXPECT_STREQ(end_reason_text(6), "aborted: could not start worker threads");
  EXPECT_STREQ(end_reason_text(7), "stopped: terminal hung up");
  EXPECT_STREQ(end_reason_text(0), "unknown");
  EXPECT_STREQ(end_reason_text(99), "unknown");
}

}  // namespace
}  // namespace dravik
