#include "core/app.h"

#include <cstdio>
#include <memory>

#include "core/cmdline.h"
#include "core/run.h"

namespace dravik {

int run_main(int argc, char** argv) {
  auto run = std::make_unique<Run>();
  if (auto code = parse_command_line(argc, argv, run->cfg)) return *code;
  fprintf(stderr, "dravik: this mode is not built yet\n");
  return 3;
}

}  // namespace dravik
