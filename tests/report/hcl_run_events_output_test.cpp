// The run events of a qualification in both outputs: exact JSON lines that
// parse, console lines for errors, aborts, prose and status, and the events
// the console leaves out.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hcl/kernels/job.h"
#include "report/console/hcl_console_output.h"
#include "report/json/hcl_json_output.h"

namespace dravik {
namespace {

// Collects what an output writes through a memory stream.
class Capture {
 public:
  Capture() : f_(open_memstream(&buf_, &len_)) {}
  ~Capture() {
    if (f_ != nullptr) fclose(f_);
    free(buf_);
  }
  FILE* file() { return f_; }
  std::string text() {
    fflush(f_);
    return std::string(buf_, len_);
  }

 private:
  char* buf_ = nullptr;
  size_t len_ = 0;
  FILE* f_;
};

HclErrorRecord sample_error() {
  HclErrorRecord rec;
  strcpy(rec.phase, "fletcher");
  rec.vaddr = 0x7f00dead0008;
  rec.expected = 0x00000000000000F0;
  rec.actual = 0x00000000000000F1;
  rec.reread = 0x00000000000000F0;
  return rec;
}

TEST(HclRunEventsOutput, JsonLinesAreExactAndParse) {
  struct Case {
    const char* what;
    void (*emit)(JsonHclOutput&);
    const char* line;
  };
  const Case cases[] = {
      {"phase", [](JsonHclOutput& o) { o.phase("P4", "Saturate stream", "done", 61.456); },
       R"({"event":"hcl_phase","id":"P4","name":"Saturate stream","status":"done","t":61.46})"},
      {"stage", [](JsonHclOutput& o) { o.stage("sweep", 12); },
       R"({"event":"hcl_phase","phase":"sweep","threads":12})"},
      {"point", [](JsonHclOutput& o) { o.point("saturate", "read", 4, 21.23456); },
       R"({"event":"hcl_point","phase":"saturate","op":"read","threads":4,"gbs":21.235})"},
      {"latency", [](JsonHclOutput& o) { o.latency_point("lat_loaded", 4, 95.126, 180.0); },
       R"({"event":"hcl_point","phase":"latency","op":"lat_loaded","threads":4,"avg_ns":95.13,"p99_ns":180.00})"},
      {"oltp", [](JsonHclOutput& o) { o.oltp_point(2, 41.5, false); },
       R"({"event":"hcl_point","phase":"oltp","op":"oltp","threads":2,"mops":41.50,"atomic_sum_ok":false})"},
      {"tlb", [](JsonHclOutput& o) { o.realism_point("tlb", 2, 12.345); },
       R"({"event":"hcl_point","phase":"realism","op":"tlb","threads":2,"mops":12.35})"},
      {"fletcher4", [](JsonHclOutput& o) { o.realism_point("fletcher4", 2, 9.5); },
       R"({"event":"hcl_point","phase":"realism","op":"fletcher4","threads":2,"gbs":9.50})"},
      {"map",
       [](JsonHclOutput& o) {
         HclMapFrame f;
         f.phase = "P2";
         f.state = "write";
         f.done = 312;
         f.err_cells = {260, 3};
         o.map(f);
       },
       R"({"event":"hcl_map","phase":"P2","cells":624,"done":312,"state":"write","err_cells":[260,3]})"},
      {"empty map",
       [](JsonHclOutput& o) {
         HclMapFrame f;
         f.phase = "P1";
         o.map(f);
       },
       R"({"event":"hcl_map","phase":"P1","cells":624,"done":0,"state":"verify","err_cells":[]})"},
      {"bit error", [](JsonHclOutput& o) { o.bit_error(sample_error(), 1); },
       R"({"event":"hcl_error","phase":"fletcher","vaddr":"0x7f00dead0008","expected":"0x00000000000000f0","actual":"0x00000000000000f1","reread":"0x00000000000000f0","xor":"0x0000000000000001","bits":1})"},
      {"abort", [](JsonHclOutput& o) { o.abort(400ull << 20, 512ull << 20, 25.5); },
       R"({"event":"hcl_abort","reason":"memory_pressure","mem_available":419430400,"floor":536870912,"psi_mem10":25.50})"},
      {"abort without psi", [](JsonHclOutput& o) { o.abort(1, 2, -1.0); },
       R"({"event":"hcl_abort","reason":"memory_pressure","mem_available":1,"floor":2,"psi_mem10":-1.00})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Capture cap;
    JsonHclOutput out(cap.file());
    c.emit(out);
    const std::string text = cap.text();
    EXPECT_EQ(text, std::string(c.line) + "\n");
    EXPECT_TRUE(nlohmann::json::accept(text)) << text;
  }
}

TEST(HclRunEventsOutput, JsonDropsProseWantsMapsAndLogsStatusLikeTheSink) {
  Capture cap;
  JsonHclOutput out(cap.file());
  EXPECT_TRUE(out.wants_map());
  out.text(" [P1] address test: clean\n");
  EXPECT_EQ(cap.text(), "");
  out.status("hcl: not enough \"free\" memory\n");
  const std::string line = cap.text();
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), '\n');
  const auto j = nlohmann::json::parse(line);
  EXPECT_EQ(j["event"], "log");
  EXPECT_EQ(j["msg"], "hcl: not enough \"free\" memory\n");
  EXPECT_GE(j["ts"].get<double>(), 0.0);
  EXPECT_EQ(line.rfind(R"({"event":"log","msg":"hcl: not enough \"free\" memory\n","ts":)", 0), 0u);
}

TEST(HclRunEventsOutput, ConsolePrintsProseStatusErrorsAndAbortsAndNothingElse) {
  Capture cap;
  ConsoleHclOutput out(cap.file());
  EXPECT_FALSE(out.wants_map());
  out.phase("P1", "Address test", "run", 0);
  out.stage("sweep", 2);
  out.point("sweep", "read", 1, 10);
  out.latency_point("lat_idle", 1, 80, 90);
  out.oltp_point(2, 1, true);
  out.realism_point("tlb", 2, 3);
  out.map(HclMapFrame{});
  EXPECT_EQ(cap.text(), "");

  out.text(" [P1] address test: clean\n");
  out.status("hcl: not enough free memory");
  out.bit_error(sample_error(), 1);
  HclErrorRecord two = sample_error();
  strcpy(two.phase, "read");
  out.bit_error(two, 2);
  out.abort((400ull << 20) + 5, 512ull << 20, 0);
  EXPECT_EQ(cap.text(),
            " [P1] address test: clean\n"
            "hcl: not enough free memory\n"
            "  !! BIT ERROR [fletcher] vaddr=0x7f00dead0008 expected=0x00000000000000f0 "
            "actual=0x00000000000000f1 re-read=0x00000000000000f0 (1 bit)\n"
            "  !! BIT ERROR [read] vaddr=0x7f00dead0008 expected=0x00000000000000f0 "
            "actual=0x00000000000000f1 re-read=0x00000000000000f0 (2 bits)\n"
            "\n !! aborting: system memory is running out (available 400 MiB, floor 512 MiB) "
            "\xE2\x80\x94 the NAS comes first\n");
}

}  // namespace
}  // namespace dravik
