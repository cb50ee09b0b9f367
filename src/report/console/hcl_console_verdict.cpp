#include "report/console/hcl_console_output.h"

namespace dravik {

void ConsoleHclOutput::verdict(const HclVerdictReport&) {}

}  // namespace dravik
