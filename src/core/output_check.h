// Whether standard output took what the run wrote to it: the JSON lines, the
// console summary, the benchmark table, the qualification report, the
// self-test's lines, --help and --version. A stream that could not be written
// (a full disk, a closed reader, a lost terminal) is told once on standard
// error, and a run whose own status was 0 ends with kOutputNotWritten, so
// that a lost report never passes for a clean run.
#pragma once
#include <cstdio>

namespace dravik {

// The exit status of a clean run whose output could not be written: the
// status of a clean run whose records could not be written, for the same
// reason (what should have told the result did not).
inline constexpr int kOutputNotWritten = 4;

// The check of one output stream, told on one error stream. Only the main
// thread writes the outputs, so it needs no guard.
class OutputCheck {
 public:
  OutputCheck(FILE* out, FILE* err) : out_(out), err_(err) {}

  // Flushes the stream and looks at its error state. The first failure is
  // told as "dravik: output not written: REASON" and remembered even when the
  // stream's error state is cleared later. Returns false once a write failed.
  bool flush();

  // The end of the run: flush(), then status, or kOutputNotWritten when
  // status was 0 and a write failed.
  int final_status(int status);

  bool failed() const { return failed_; }

 private:
  FILE* out_;
  FILE* err_;
  bool failed_ = false;
};

// The check of the process's standard output, told on standard error.
OutputCheck& standard_output_check();

// Flushes out, through the standard output's check when out is standard
// output. Returns false when a write to out failed. The writers of the run's
// output call it where they used to flush.
bool flush_output(FILE* out);

}  // namespace dravik
