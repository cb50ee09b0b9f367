#include "report/json/hcl_json_output.h"

namespace dravik {

void JsonHclOutput::text(const char*) {}
void JsonHclOutput::status(const char*) {}
void JsonHclOutput::phase(const char*, const char*, const char*, double) {}
void JsonHclOutput::stage(const char*, int) {}
void JsonHclOutput::point(const char*, const char*, int, double) {}
void JsonHclOutput::latency_point(const char*, int, double, double) {}
void JsonHclOutput::oltp_point(int, double, bool) {}
void JsonHclOutput::realism_point(const char*, int, double) {}
bool JsonHclOutput::wants_map() const { return false; }
void JsonHclOutput::map(const HclMapFrame&) {}
void JsonHclOutput::bit_error(const HclErrorRecord&, int) {}
void JsonHclOutput::abort(uint64_t, uint64_t, double) {}

}  // namespace dravik
