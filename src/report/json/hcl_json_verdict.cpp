#include "report/json/hcl_json_output.h"

namespace dravik {

void JsonHclOutput::verdict(const HclVerdictReport&) {}

}  // namespace dravik
