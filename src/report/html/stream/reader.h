// The stream reader: JSON lines of a run (as --json prints them, saved to a
// file or captured while the run goes on) into a RunRecord. Bytes come in
// any pieces; a line is read once its newline arrives. A line that is torn,
// cut, too long, not JSON or not an event of this program is counted and
// skipped, never fatal: the record holds what the readable lines said.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>

#include "report/html/stream/run_record.h"

namespace dravik::html {

// The longest line kept; the map line of a wide terminal is the longest a
// run writes (tens of kilobytes).
inline constexpr size_t kMaxLineBytes = 1 << 20;

class StreamReader {
 public:
  // Feeds the next bytes of the stream.
  void feed(std::string_view bytes);
  // The stream ended: a last line without its newline is read as it is.
  void finish();
  // One whole line (without its newline).
  void line(std::string_view text);

  const RunRecord& record() const { return record_; }
  RunRecord& record() { return record_; }

 private:
  void event(const JsonValue& v, const std::string& kind);
  void fault(const JsonValue& v);
  void progress(const JsonValue& v);
  void phase(const JsonValue& v);
  void cell();
  void map(const JsonValue& v);
  void klog(const JsonValue& v);
  void bench_point(const JsonValue& v);
  void hcl_point(const JsonValue& v);
  void hcl_phase(const JsonValue& v);
  void hcl_error(const JsonValue& v);
  void unreadable();
  size_t test_index(const std::string& name);

  RunRecord record_;
  std::string partial_;     // bytes of the line not yet ended
  bool skipping_ = false;   // inside a line longer than kMaxLineBytes
  std::unordered_map<std::string, size_t> fault_index_;
  std::vector<size_t> pending_;  // tests of the region that ended at the last cell event
};

// A stdio stream whose bytes go to reader (the JSON sinks write their lines
// to it as to any stream); nullptr when it cannot be made. The reader must
// outlive it; fclose ends it.
FILE* open_reader_stream(StreamReader& reader);

// Reads the file at path into reader, at most max_bytes (the rest is left
// and marked in the record's health). False with *error when the file
// cannot be opened or read.
bool read_stream_file(const std::string& path, StreamReader& reader, std::string* error,
                      size_t max_bytes = size_t{1} << 30);

}  // namespace dravik::html
