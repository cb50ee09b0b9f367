#include "app/records/report_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "app/run/run.h"
#include "app/records/run_records.h"
#include "core/config.h"
#include "core/run/state.h"
#include "engine/faults/fault_log.h"
#include "hcl/output.h"
#include "memory/probes/host_facts.h"
#include "report/html/history_trend.h"
#include "report/html/page/report_page.h"
#include "report/html/stream/json_value.h"
#include "report/json/hcl_json_output.h"
#include "report/json/json_lines.h"
#include "report/json/json_sink.h"
#include "report/records/history/line.h"
#include "report/records/files/replace_file.h"
#include "report/records/run_outcome.h"

namespace dravik {

namespace {

// The qualification's reports to its chosen output and, as JSON lines, to
// the page. Progress-map frames are the output's alone: the page has no use
// for them.
class TeeHclOutput final : public HclOutput {
 public:
  TeeHclOutput(std::unique_ptr<HclOutput> out, std::unique_ptr<HclOutput> page)
      : out_(std::move(out)), page_(std::move(page)) {}

  void text(const char* s) override { out_->text(s); }
  void status(const char* s) override {
    out_->status(s);
    page_->status(s);
  }
  void info(const HclInfo& info, const MemoryInventory& inv, const JedecReference& ref) override {
    out_->info(info, inv, ref);
    page_->info(info, inv, ref);
  }
  void setup(const SetupAssessment& gate, double load1, double psi_mem10, bool busy,
             int cpus) override {
    out_->setup(gate, load1, psi_mem10, busy, cpus);
    page_->setup(gate, load1, psi_mem10, busy, cpus);
  }
  void phase(const char* id, const char* name, const char* status, double t) override {
    out_->phase(id, name, status, t);
    page_->phase(id, name, status, t);
  }
  void stage(const char* phase, int threads) override {
    out_->stage(phase, threads);
    page_->stage(phase, threads);
  }
  void point(const char* phase, const char* op, int threads, double gbs) override {
    out_->point(phase, op, threads, gbs);
    page_->point(phase, op, threads, gbs);
  }
  void latency_point(const char* op, int threads, double avg_ns, double p99_ns) override {
    out_->latency_point(op, threads, avg_ns, p99_ns);
    page_->latency_point(op, threads, avg_ns, p99_ns);
  }
  void oltp_point(int threads, double mops, bool ledger_ok) override {
    out_->oltp_point(threads, mops, ledger_ok);
    page_->oltp_point(threads, mops, ledger_ok);
  }
  void realism_point(const char* op, int threads, double value) override {
    out_->realism_point(op, threads, value);
    page_->realism_point(op, threads, value);
  }
  bool wants_map() const override { return out_->wants_map(); }
  void map(const HclMapFrame& frame) override { out_->map(frame); }
  void bit_error(const HclErrorRecord& rec, int bits) override {
    out_->bit_error(rec, bits);
    page_->bit_error(rec, bits);
  }
  void abort(uint64_t mem_available, uint64_t floor, double psi_mem10) override {
    out_->abort(mem_available, floor, psi_mem10);
    page_->abort(mem_available, floor, psi_mem10);
  }
  void verdict(const HclVerdictReport& report) override {
    out_->verdict(report);
    page_->verdict(report);
  }

 private:
  std::unique_ptr<HclOutput> out_;
  std::unique_ptr<HclOutput> page_;
};

bool tests_memory(RunMode mode) { return mode == RunMode::PRODUCTION || mode == RunMode::OFFLINE; }

// Why the run ended, in the summary's words; a mode without an end reason
// of its own ended as the run state says, or completed.
std::string end_reason_of(const Run& run, const RunOutcome& o) {
  if (o.fault_test) return end_reason_text(o.end_reason);
  const int32_t reason = run.st.end_reason.load(std::memory_order_relaxed);
  return reason == 0 ? "completed" : end_reason_text(reason);
}

// The closing record: what the page shows that no event of the stream says.
std::string run_end_line(const Run& run, const RunOutcome& o) {
  using html::json_quote;
  const HostFacts facts = host_facts();
  std::string line = "{\"event\":\"run_end\",\"mode\":" + json_quote(outcome_mode_word(o));
  line += ",\"tier\":" + json_quote(o.tier);
  line += ",\"verdict\":" + (o.verdict != nullptr ? json_quote(o.verdict) : std::string("null"));
  line += ",\"exit_status\":" + std::to_string(o.exit_status);
  line += ",\"end_reason\":" + json_quote(end_reason_of(run, o));
  line += ",\"host\":" + json_quote(facts.host);
  line += ",\"kernel\":" + json_quote(facts.kernel);
  line += ",\"processor\":" + json_quote(facts.processor);
  if (run.st.mem_total > 0) line += ",\"mem_total\":" + std::to_string(run.st.mem_total);
  line += ",\"version\":" + json_quote(kVersion);
  line += ",\"start\":" + json_quote(utc_iso8601(o.start_time));
  line += ",\"end\":" + json_quote(utc_iso8601(o.end_time));
  char duration[32];
  snprintf(duration, sizeof duration, "%.1f", o.duration_s);
  line += std::string(",\"duration\":") + duration;
  if (o.fault_test) line += ",\"tested_bytes\":" + std::to_string(o.tested_bytes);
  line += ",\"options\":[";
  for (size_t i = 0; i < o.options.size(); ++i) {
    if (i > 0) line += ',';
    line += json_quote(o.options[i]);
  }
  return line + "]}\n";
}

// The page of what reader read, with the trend of the history when cfg
// names one; false with *why when it cannot be written.
bool render_and_write(const RunConfig& cfg, const html::RunRecord& record, std::string* why) {
  try {
    std::vector<html::HistoryEntry> runs;
    std::string note;
    const bool with_history = !cfg.history_path.empty();
    if (with_history && !html::read_history_tail(cfg.history_path, &runs, &note)) {
      note = "The history could not be read: " + note;
    }
    const std::string page = html::render_report(record, with_history ? &runs : nullptr, note);
    return write_report_file(cfg.report_path, page, why);
  } catch (const std::bad_alloc&) {
    *why = "out of memory while drawing the page";
    return false;
  }
}

}  // namespace

ReportCapture::ReportCapture(Run& run) : run_(run) {
  if (!run.cfg.report_path.empty()) feed_ = html::open_reader_stream(reader_);
}

ReportCapture::~ReportCapture() {
  if (feed_ != nullptr) fclose(feed_);
}

void ReportCapture::attach() {
  if (feed_ == nullptr) return;
  inner_ = run_.sink;
  run_.sink = EventSink{this, &ReportCapture::emit, &ReportCapture::tick};
}

void ReportCapture::emit(void* owner, EventKind kind, const void* payload) {
  auto* self = static_cast<ReportCapture*>(owner);
  if (self->inner_.emit != nullptr) self->inner_.emit(self->inner_.owner, kind, payload);
  // The JSON sink writes the line to its stream: for the page, that stream
  // is the reader's for the one call. Only the main thread emits.
  FILE* const saved = json_output();
  set_json_output(self->feed_);
  json_emit(self->run_, kind, payload);
  set_json_output(saved == stdout ? nullptr : saved);
}

void ReportCapture::tick(void* owner) {
  auto* self = static_cast<ReportCapture*>(owner);
  if (self->inner_.tick != nullptr) self->inner_.tick(self->inner_.owner);
}

std::unique_ptr<HclOutput> ReportCapture::wrap(std::unique_ptr<HclOutput> out) {
  if (feed_ == nullptr) return out;
  return std::make_unique<TeeHclOutput>(std::move(out), std::make_unique<JsonHclOutput>(feed_));
}

int ReportCapture::finish(const RunEnd& end, FILE* err) {
  if (feed_ == nullptr) return end.exit_status;
  const RunConfig& cfg = run_.cfg;
  if (tests_memory(cfg.mode) && !cfg.selftest) {
    // Faults that workers recorded never reached the sink: every record of
    // the log goes to the page (the reader merges those it has).
    std::vector<FaultRecord> records(FaultLog::kCapacity);
    const int32_t n = snapshot_faults(run_.faults, records.data(), FaultLog::kCapacity);
    const RunView& view = run_;
    for (int32_t i = 0; i < n; ++i) json_fault_line(feed_, view, records[static_cast<size_t>(i)]);
  }
  const RunOutcome outcome = run_outcome(run_, end);
  fputs(run_end_line(run_, outcome).c_str(), feed_);
  fclose(feed_);
  feed_ = nullptr;
  reader_.finish();
  std::string why;
  if (render_and_write(cfg, reader_.record(), &why)) return end.exit_status;
  fprintf(err, "dravik: report not written: %s\n", why.c_str());
  fflush(err);
  return end.exit_status == 0 ? kRecordsNotWritten : end.exit_status;
}

int report_from_stream(const RunConfig& cfg, FILE* err) {
  if (cfg.report_path.empty()) {
    fprintf(err, "dravik: --report-from needs --report FILE\n");
    return 2;
  }
  html::StreamReader reader;
  std::string why;
  bool read = false;
  try {
    read = html::read_stream_file(cfg.report_from_path, reader, &why);
  } catch (const std::bad_alloc&) {
    why = "out of memory while reading " + cfg.report_from_path;
  }
  if (!read) {
    fprintf(err, "dravik: report not written: %s\n", why.c_str());
    return 2;
  }
  if (!render_and_write(cfg, reader.record(), &why)) {
    fprintf(err, "dravik: report not written: %s\n", why.c_str());
    return kRecordsNotWritten;
  }
  return 0;
}

bool write_report_file(const std::string& path, const std::string& html, std::string* error) {
  // The page is for anyone on the box to open or send; what stands at the
  // name must be a regular file, which replace_file checks.
  ReplaceOptions how;
  how.mode = 0644;
  return replace_file(path, html, how, error);
}

}  // namespace dravik
