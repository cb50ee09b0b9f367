// An HclOutput that keeps what the run reported, for the runner tests.
#pragma once
#include <string>
#include <vector>

#include "core/text.h"
#include "hcl/kernels/job.h"
#include "hcl/output.h"

namespace dravik::testing {

class RecordingHclOutput final : public HclOutput {
 public:
  explicit RecordingHclOutput(bool json) : json_(json) {}

  struct Frame {
    HclMapFrame frame;
    std::string phase;
    double at = 0;
  };
  struct Abort {
    uint64_t mem_available;
    uint64_t floor;
    double psi;
  };

  std::vector<Frame> frames;
  std::vector<HclErrorRecord> errors;
  std::vector<int> error_bits;
  std::vector<Abort> aborts;

  void text(const char*) override {}
  void status(const char*) override {}
  void info(const HclInfo&, const MemoryInventory&, const JedecReference&) override {}
  void setup(const SetupAssessment&, double, double, bool, int) override {}
  void phase(const char*, const char*, const char*, double) override {}
  void stage(const char*, int) override {}
  void point(const char*, const char*, int, double) override {}
  void latency_point(const char*, int, double, double) override {}
  void oltp_point(int, double, bool) override {}
  void realism_point(const char*, int, double) override {}
  bool wants_map() const override { return json_; }
  void map(const HclMapFrame& frame) override {
    frames.push_back({frame, frame.phase, now_seconds()});
  }
  void bit_error(const HclErrorRecord& rec, int bits) override {
    errors.push_back(rec);
    error_bits.push_back(bits);
  }
  void abort(uint64_t mem_available, uint64_t floor, double psi) override {
    aborts.push_back({mem_available, floor, psi});
  }
  void verdict(const HclVerdictReport&) override {}

 private:
  bool json_;
};

}  // namespace dravik::testing
