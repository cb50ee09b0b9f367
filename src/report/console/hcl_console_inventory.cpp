#include "report/console/hcl_console_output.h"

namespace dravik {

void ConsoleHclOutput::info(const HclInfo&, const MemoryInventory&, const JedecReference&) {}
void ConsoleHclOutput::setup(const SetupAssessment&, double, double, bool, int) {}

}  // namespace dravik
