// JSON lines of a qualification run, one object per line, flushed after each.
// The methods are spread over files by subject: run events
// (hcl_json_output.cpp), inventory and preflight (hcl_json_inventory.cpp),
// verdict (hcl_json_verdict.cpp).
#pragma once
#include <cmath>
#include <cstdio>

#include "core/text.h"
#include "hcl/output.h"

namespace dravik {

// printf writes "nan" or "inf" for a figure that is not finite, which no JSON
// reader accepts: every figure of the qualification's lines passes through
// here and such a value reads 0.
inline double json_figure(double x) { return std::isfinite(x) ? x : 0.0; }

class JsonHclOutput final : public HclOutput {
 public:
  explicit JsonHclOutput(FILE* out = stdout) : out_(out), started_(now_seconds()) {}

  void text(const char* s) override;
  void status(const char* s) override;
  void info(const HclInfo& info, const MemoryInventory& inv, const JedecReference& ref) override;
  void setup(const SetupAssessment& gate, double load1, double psi_mem10, bool busy,
             int cpus) override;
  void phase(const char* id, const char* name, const char* status, double t) override;
  void stage(const char* phase, int threads) override;
  void point(const char* phase, const char* op, int threads, double gbs) override;
  void latency_point(const char* op, int threads, double avg_ns, double p99_ns) override;
  void oltp_point(int threads, double mops, bool ledger_ok) override;
  void realism_point(const char* op, int threads, double value) override;
  bool wants_map() const override;
  void map(const HclMapFrame& frame) override;
  void bit_error(const HclErrorRecord& rec, int bits) override;
  void abort(uint64_t mem_available, uint64_t floor, double psi_mem10) override;
  void verdict(const HclVerdictReport& report) override;

 private:
  FILE* out_;
  double started_;  // the "ts" of log lines counts from here (the run's start)
};

}  // namespace dravik
