#include "report/console/bench_table.h"

#include <cstring>

#include "core/output_check.h"
#include "core/text.h"

namespace dravik {

void print_bench_header(FILE* out, const BenchStart& start, int32_t flush_on) {
  char cap_text[32];
  format_size(start.buffer_cap, cap_text, sizeof cap_text);
  fprintf(out, "\ndravik bandwidth benchmark  (buffer cap %s, mlock:%s, flush:%s)\n\n", cap_text,
          start.locked ? "yes" : "no", flush_on ? "on" : "off");
  flush_output(out);
}

void print_bench_row(FILE* out, const BenchPoint& point) {
  char size_text[32];
  format_size(point.size, size_text, sizeof size_text);
  if (strcmp(point.op, "latency") == 0) {
    fprintf(out, "  %-9s %12s  %9.2f ns/access\n", point.op, size_text, point.value);
  } else {
    fprintf(out, "  %-9s %12s  %9.2f GB/s\n", point.op, size_text, point.value);
  }
  flush_output(out);
}

void print_bench_done(FILE* out) {
  fprintf(out,
          "\nDone. Look for the GB/s drop and latency rise as size crosses L1/L2/L3 and hits "
          "DRAM.\n");
  flush_output(out);
}

}  // namespace dravik
