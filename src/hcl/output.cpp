#include "hcl/output.h"

#include <cstdarg>
#include <cstdio>

namespace dravik {

void hcl_console(HclOutput& out, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  out.text(line);
}

}  // namespace dravik
