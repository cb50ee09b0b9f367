// The report page of a run (--report FILE) and of a saved stream
// (--report-from RUN --report FILE). A live run's page is drawn from the
// same JSON lines --json prints, whatever the output style: the run's sink
// and the qualification's output each get a twin that writes those lines
// into the page's stream reader, which keeps only what the page shows, so
// a run of days holds no more than a run of seconds. At the end the
// reader gets one closing record the stream has no event for (host,
// kernel, processor, command line, start and end, exit status).
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "core/run/event_sink.h"
#include "report/html/stream/reader.h"

namespace dravik {

struct Run;
struct RunEnd;
struct RunConfig;
class HclOutput;

class ReportCapture {
 public:
  // Captures nothing when the run has no --report.
  explicit ReportCapture(Run& run);
  ~ReportCapture();
  ReportCapture(const ReportCapture&) = delete;
  ReportCapture& operator=(const ReportCapture&) = delete;

  bool wanted() const { return feed_ != nullptr; }

  // Once the output is chosen: the run's events also go, as JSON lines, to
  // the page's reader.
  void attach();
  // The qualification's output, with its JSON lines also going to the page.
  std::unique_ptr<HclOutput> wrap(std::unique_ptr<HclOutput> out);
  // Writes the page at the run's end; returns the status the run ends with
  // (kRecordsNotWritten when it was 0 and the page could not be written).
  int finish(const RunEnd& end, FILE* err = stderr);

 private:
  static void emit(void* owner, EventKind kind, const void* payload);
  static void tick(void* owner);

  Run& run_;
  EventSink inner_;
  html::StreamReader reader_;
  FILE* feed_ = nullptr;
};

// --report-from: renders the JSON lines of cfg.report_from_path into
// cfg.report_path, with the trend of cfg.history_path when given. Returns
// the exit status: 0 when written, 2 for a missing --report or an input
// that cannot be read, kRecordsNotWritten when the page cannot be written.
int report_from_stream(const RunConfig& cfg, FILE* err = stderr);

// Writes html to path, replacing it at once. The name must not be anything
// but a regular file (a link, a device, a FIFO or a folder there is
// refused). False with the reason in *error.
bool write_report_file(const std::string& path, const std::string& html, std::string* error);

}  // namespace dravik
