// JSON lines of the run events: phases, points, progress map, bit errors,
// the pressure abort and status messages. Console prose is dropped.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/output_check.h"
#include "core/text.h"
#include "hcl/kernels/job.h"
#include "report/json/hcl_json_output.h"
#include "report/json/json_lines.h"

namespace dravik {

namespace {

// Phase ids, names, ops and states are the run's own words; they are
// escaped all the same so that no text can break a line.
struct Escaped {
  char s[kEscapedCap];
  explicit Escaped(const char* text) { json_escape(text != nullptr ? text : "", s, sizeof s); }
};

// A figure that is not a number would not be valid JSON.
double finite(double v) { return std::isfinite(v) ? v : 0.0; }

// Every line is flushed at once; a failed write (a closed pipe) is told once
// (core/output_check.h) and must not stick to the stream.
void end_line(FILE* out) {
  flush_output(out);
  clearerr(out);
}

}  // namespace

void JsonHclOutput::text(const char*) {}

void JsonHclOutput::status(const char* s) {
  const Escaped msg(s);
  fprintf(out_, "{\"event\":\"log\",\"msg\":\"%s\",\"ts\":%.1f}\n", msg.s,
          finite(now_seconds() - started_));
  end_line(out_);
}

void JsonHclOutput::phase(const char* id, const char* name, const char* status, double t) {
  fprintf(out_, "{\"event\":\"hcl_phase\",\"id\":\"%s\",\"name\":\"%s\",\"status\":\"%s\",\"t\":%.2f}\n",
          Escaped(id).s, Escaped(name).s, Escaped(status).s, finite(t));
  end_line(out_);
}

void JsonHclOutput::stage(const char* phase, int threads) {
  fprintf(out_, "{\"event\":\"hcl_phase\",\"phase\":\"%s\",\"threads\":%d}\n", Escaped(phase).s,
          threads);
  end_line(out_);
}

void JsonHclOutput::point(const char* phase, const char* op, int threads, double gbs) {
  fprintf(out_, "{\"event\":\"hcl_point\",\"phase\":\"%s\",\"op\":\"%s\",\"threads\":%d,\"gbs\":%.3f}\n",
          Escaped(phase).s, Escaped(op).s, threads, finite(gbs));
  end_line(out_);
}

void JsonHclOutput::latency_point(const char* op, int threads, double avg_ns, double p99_ns) {
  fprintf(out_,
          "{\"event\":\"hcl_point\",\"phase\":\"latency\",\"op\":\"%s\",\"threads\":%d,"
          "\"avg_ns\":%.2f,\"p99_ns\":%.2f}\n",
          Escaped(op).s, threads, finite(avg_ns), finite(p99_ns));
  end_line(out_);
}

void JsonHclOutput::oltp_point(int threads, double mops, bool ledger_ok) {
  fprintf(out_,
          "{\"event\":\"hcl_point\",\"phase\":\"oltp\",\"op\":\"oltp\",\"threads\":%d,"
          "\"mops\":%.2f,\"atomic_sum_ok\":%s}\n",
          threads, finite(mops), json_bool(ledger_ok));
  end_line(out_);
}

void JsonHclOutput::realism_point(const char* op, int threads, double value) {
  // The TLB walk is counted in operations, fletcher4 in bytes.
  const bool tlb = op != nullptr && strcmp(op, "tlb") == 0;
  fprintf(out_, "{\"event\":\"hcl_point\",\"phase\":\"realism\",\"op\":\"%s\",\"threads\":%d,\"%s\":%.2f}\n",
          Escaped(op).s, threads, tlb ? "mops" : "gbs", finite(value));
  end_line(out_);
}

bool JsonHclOutput::wants_map() const { return true; }

void JsonHclOutput::map(const HclMapFrame& frame) {
  fprintf(out_, "{\"event\":\"hcl_map\",\"phase\":\"%s\",\"cells\":%d,\"done\":%d,\"state\":\"%s\",\"err_cells\":[",
          Escaped(frame.phase).s, frame.cells, frame.done, Escaped(frame.state).s);
  size_t listed = 0;
  for (const int cell : frame.err_cells) {
    if (listed == kHclErrorLogCapacity) break;
    fprintf(out_, "%s%d", listed == 0 ? "" : ",", cell);
    ++listed;
  }
  fputs("]}\n", out_);
  end_line(out_);
}

void JsonHclOutput::bit_error(const HclErrorRecord& rec, int bits) {
  fprintf(out_,
          "{\"event\":\"hcl_error\",\"phase\":\"%s\",\"vaddr\":\"0x%" PRIx64 "\",\"expected\":\"0x%016" PRIx64
          "\",\"actual\":\"0x%016" PRIx64 "\",\"reread\":\"0x%016" PRIx64 "\",\"xor\":\"0x%016" PRIx64
          "\",\"bits\":%d}\n",
          Escaped(rec.phase).s, rec.vaddr, rec.expected, rec.actual, rec.reread,
          rec.expected ^ rec.actual, bits);
  end_line(out_);
}

void JsonHclOutput::abort(uint64_t mem_available, uint64_t floor, double psi_mem10) {
  fprintf(out_,
          "{\"event\":\"hcl_abort\",\"reason\":\"memory_pressure\",\"mem_available\":%" PRIu64
          ",\"floor\":%" PRIu64 ",\"psi_mem10\":%.2f}\n",
          mem_available, floor, finite(psi_mem10));
  end_line(out_);
}

}  // namespace dravik
