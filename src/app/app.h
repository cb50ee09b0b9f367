// The program's life: parse, probe, prepare, run one mode driver, finish.
#pragma once

namespace dravik {

struct Run;

// Exit status of a run ended by an internal error (an exception that reached
// the top: memory the program itself could not get, say), told on standard
// error as "dravik: internal error: WHAT". It is the status of an aborted run:
// the run reached no verdict and tested less than asked, as after a memory
// pressure or allocation abort, and a scheduled scan's alerting already
// treats 3 that way.
inline constexpr int kInternalError = 3;

// Entry point behind main(): returns the process exit code. No exception
// leaves it.
int run_main(int argc, char** argv);

// The whole program on a run record the caller made (tests plant seams and
// fixture paths in it first): parse, probe, prepare, run, finish, check that
// standard output took the run's output, and write the records the command
// line asks for. Returns the process exit code; an exception ends it with
// kInternalError and leaves no records.
int run_program(Run& run, int argc, const char* const* argv);

}  // namespace dravik
