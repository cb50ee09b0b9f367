// The program's life: parse, probe, prepare, run one mode driver, finish.
#pragma once

namespace dravik {

// Entry point behind main(): returns the process exit code.
int run_main(int argc, char** argv);

}  // namespace dravik
