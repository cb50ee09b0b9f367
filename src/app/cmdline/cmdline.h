// Command-line parsing into a RunConfig.
#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>

#include "core/config.h"

namespace dravik {

// Fills cfg from argv. Returns an exit code when the program must end at once
// (0 after --help, -h or --version; 2 after an unrecognised option or a value
// its option cannot take), otherwise nothing. Usage and version go to out;
// "unknown option: NAME" and "invalid value for OPTION: VALUE" go to err.
std::optional<int> parse_command_line(int argc, const char* const* argv, RunConfig& cfg,
                                      FILE* out = stdout, FILE* err = stderr);

// Prints the usage text for the given program path.
void print_usage(FILE* out, const char* program);

// The derived seed used when none was given: (time << 16) ^ pid ^ 0xA5A5A5A5.
uint64_t derive_seed(int64_t wall_seconds, int64_t pid);

}  // namespace dravik
