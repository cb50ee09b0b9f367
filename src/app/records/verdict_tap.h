// The qualification's output as the composition root wires it: every report
// goes on to the chosen output (console or JSON lines), and the verdict
// report is kept for the records written at the run's end.
#pragma once
#include <optional>

#include "hcl/output.h"
#include "hcl/verdict/verdict.h"

namespace dravik {

class VerdictTap final : public HclOutput {
 public:
  explicit VerdictTap(HclOutput& out) : out_(out) {}

  // The verdict report, once the run reached its verdict.
  const std::optional<HclVerdictReport>& report() const { return report_; }

  void text(const char* s) override { out_.text(s); }
  void status(const char* s) override { out_.status(s); }
  void info(const HclInfo& info, const MemoryInventory& inv, const JedecReference& ref) override {
    out_.info(info, inv, ref);
  }
  void setup(const SetupAssessment& gate, double load1, double psi_mem10, bool busy,
             int cpus) override {
    out_.setup(gate, load1, psi_mem10, busy, cpus);
  }
  void phase(const char* id, const char* name, const char* status, double t) override {
    out_.phase(id, name, status, t);
  }
  void stage(const char* phase, int threads) override { out_.stage(phase, threads); }
  void point(const char* phase, const char* op, int threads, double gbs) override {
    out_.point(phase, op, threads, gbs);
  }
  void latency_point(const char* op, int threads, double avg_ns, double p99_ns) override {
    out_.latency_point(op, threads, avg_ns, p99_ns);
  }
  void oltp_point(int threads, double mops, bool ledger_ok) override {
    out_.oltp_point(threads, mops, ledger_ok);
  }
  void realism_point(const char* op, int threads, double value) override {
    out_.realism_point(op, threads, value);
  }
  bool wants_map() const override { return out_.wants_map(); }
  void map(const HclMapFrame& frame) override { out_.map(frame); }
  void bit_error(const HclErrorRecord& rec, int bits) override { out_.bit_error(rec, bits); }
  void abort(uint64_t mem_available, uint64_t floor, double psi_mem10) override {
    out_.abort(mem_available, floor, psi_mem10);
  }
  void verdict(const HclVerdictReport& report) override {
    report_ = report;
    out_.verdict(report);
  }

 private:
  HclOutput& out_;
  std::optional<HclVerdictReport> report_;
};

}  // namespace dravik
