#include "report/console/hcl_console_output.h"

namespace dravik {

void ConsoleHclOutput::text(const char*) {}
void ConsoleHclOutput::status(const char*) {}
void ConsoleHclOutput::phase(const char*, const char*, const char*, double) {}
void ConsoleHclOutput::stage(const char*, int) {}
void ConsoleHclOutput::point(const char*, const char*, int, double) {}
void ConsoleHclOutput::latency_point(const char*, int, double, double) {}
void ConsoleHclOutput::oltp_point(int, double, bool) {}
void ConsoleHclOutput::realism_point(const char*, int, double) {}
bool ConsoleHclOutput::wants_map() const { return false; }
void ConsoleHclOutput::map(const HclMapFrame&) {}
void ConsoleHclOutput::bit_error(const HclErrorRecord&, int) {}
void ConsoleHclOutput::abort(uint64_t, uint64_t, double) {}

}  // namespace dravik
