// Console text of a qualification run: prose, phase lines, the boxed report.
// The methods are spread over files by subject: run events
// (hcl_console_output.cpp), inventory and preflight (hcl_console_inventory.cpp),
// verdict (hcl_console_verdict.cpp).
#pragma once
#include <cstdio>

#include "hcl/output.h"

namespace dravik {

class ConsoleHclOutput final : public HclOutput {
 public:
  explicit ConsoleHclOutput(FILE* out = stdout) : out_(out) {}

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
};

}  // namespace dravik
