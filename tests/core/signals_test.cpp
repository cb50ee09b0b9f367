// The signal handler only sets flags: SIGINT/SIGTERM stop the run with
// USER_STOP unless another reason came first, SIGWINCH asks for a resize.
#include <gtest/gtest.h>

#include <csignal>

#include "core/flags.h"
#include "core/run_state.h"

namespace dravik {
namespace {

class Signals : public ::testing::Test {
 protected:
  void SetUp() override { reset_process_flags(); }
  void TearDown() override {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGWINCH, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    install_signal_handlers(nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGWINCH, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    reset_process_flags();
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
  EXPECT_STREQ(end_reason_text(0), "unknown");
  EXPECT_STREQ(end_reason_text(99), "unknown");
}

}  // namespace
}  // namespace dravik
