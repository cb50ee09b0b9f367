// The program's life: parse, probe, prepare, run one mode driver, finish.
#pragma once

namespace dravik {

struct Run;

// Entry point behind main(): returns the process exit code.
int run_main(int argc, char** argv);

// The whole program on a run record the caller made (tests plant seams and
// fixture paths in it first): parse, probe, prepare, run, finish, and write
// the records the command line asks for. Returns the process exit code.
int run_program(Run& run, int argc, const char* const* argv);

}  // namespace dravik
