// Console text of the run events: prose, status lines, bit errors and the
// pressure abort. The JSON-only events print nothing here.
#include <cinttypes>
#include <cstdio>

#include "core/output_check.h"
#include "hcl/kernels/job.h"
#include "report/console/hcl_console_output.h"

namespace dravik {

void ConsoleHclOutput::text(const char* s) {
  fputs(s, out_);
  flush_output(out_);
}

void ConsoleHclOutput::status(const char* s) {
  fprintf(out_, "%s\n", s);
  flush_output(out_);
}

void ConsoleHclOutput::phase(const char*, const char*, const char*, double) {}
void ConsoleHclOutput::stage(const char*, int) {}
void ConsoleHclOutput::point(const char*, const char*, int, double) {}
void ConsoleHclOutput::latency_point(const char*, int, double, double) {}
void ConsoleHclOutput::oltp_point(int, double, bool) {}
void ConsoleHclOutput::realism_point(const char*, int, double) {}
bool ConsoleHclOutput::wants_map() const { return false; }
void ConsoleHclOutput::map(const HclMapFrame&) {}

void ConsoleHclOutput::bit_error(const HclErrorRecord& rec, int bits) {
  fprintf(out_,
          "  !! BIT ERROR [%s] vaddr=0x%" PRIx64 " expected=0x%016" PRIx64 " actual=0x%016" PRIx64
          " re-read=0x%016" PRIx64 " (%d bit%s)\n",
          rec.phase, rec.vaddr, rec.expected, rec.actual, rec.reread, bits, bits == 1 ? "" : "s");
  flush_output(out_);
}

void ConsoleHclOutput::abort(uint64_t mem_available, uint64_t floor, double) {
  fprintf(out_,
          "\n !! aborting: system memory is running out (available %" PRIu64 " MiB, floor %" PRIu64
          " MiB) \xE2\x80\x94 the NAS comes first\n",
          mem_available >> 20, floor >> 20);
  flush_output(out_);
}

}  // namespace dravik
