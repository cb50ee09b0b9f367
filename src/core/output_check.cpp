#include "core/output_check.h"

#include <cerrno>
#include <cstring>

namespace dravik {

bool OutputCheck::flush() {
  errno = 0;
  const bool flushed = fflush(out_) == 0;
  const int flush_errno = errno;
  if (flushed && ferror(out_) == 0) return !failed_;
  if (!failed_) {
    failed_ = true;
    // A write that failed inside an earlier stdio call left the error state
    // but no errno to tell.
    const char* reason = !flushed && flush_errno != 0 ? strerror(flush_errno)
                                                      : "an earlier write failed";
    fprintf(err_, "dravik: output not written: %s\n", reason);
    fflush(err_);
  }
  return false;
}

int OutputCheck::final_status(int status) {
  flush();
  return status == 0 && failed_ ? kOutputNotWritten : status;
}

OutputCheck& standard_output_check() {
  static OutputCheck check(stdout, stderr);
  return check;
}

bool flush_output(FILE* out) {
  if (out == stdout) return standard_output_check().flush();
  return fflush(out) == 0 && ferror(out) == 0;
}

}  // namespace dravik
