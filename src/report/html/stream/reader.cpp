// The stream reader's framing: bytes into lines, lines into events, and the
// two ways bytes arrive (a stdio stream during a run, a file afterwards).
#include "report/html/stream/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dravik::html {

namespace {

// Singular events: the latest one is kept as it came.
std::optional<JsonValue>* singular(RunRecord& r, const std::string& kind) {
  if (kind == "start") return &r.start;
  if (kind == "summary") return &r.summary;
  if (kind == "bench_summary") return &r.bench_summary;
  if (kind == "hcl_info") return &r.hcl_info;
  if (kind == "hcl_setup") return &r.hcl_setup;
  if (kind == "hcl_verdict") return &r.hcl_verdict;
  if (kind == "hcl_abort") return &r.hcl_abort;
  if (kind == "run_end") return &r.run_end;
  return nullptr;
}

template <typename T>
void keep_latest(std::vector<T>& list, T item, size_t most) {
  if (list.size() >= most) list.erase(list.begin());
  list.push_back(std::move(item));
}

}  // namespace

void StreamReader::feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t nl = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, nl);
    if (!skipping_) {
      if (partial_.size() + piece.size() > kMaxLineBytes) {
        // Too long to keep: counted once, skipped to its end.
        skipping_ = true;
        partial_.clear();
        ++record_.health.lines;
        ++record_.health.too_long;
      } else {
        partial_.append(piece);
      }
    }
    if (nl == std::string_view::npos) return;
    if (!skipping_) {
      line(partial_);
    }
    partial_.clear();
    skipping_ = false;
    bytes.remove_prefix(nl + 1);
  }
}

void StreamReader::finish() {
  if (skipping_) {
    record_.health.cut_at_end = true;
  } else if (!partial_.empty()) {
    const int64_t unreadable_before = record_.health.unreadable;
    line(partial_);
    if (record_.health.unreadable != unreadable_before) record_.health.cut_at_end = true;
  }
  partial_.clear();
  skipping_ = false;
}

void StreamReader::unreadable() {
  StreamHealth& h = record_.health;
  ++h.unreadable;
  if (h.unreadable_lines.size() < kMaxUnreadableLines) h.unreadable_lines.push_back(h.lines);
}

void StreamReader::line(std::string_view text) {
  ++record_.health.lines;
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  if (text.empty()) return;  // a blank line says nothing
  std::optional<JsonValue> v = parse_json(text);
  if (!v || v->type != JsonValue::Type::object) {
    unreadable();
    return;
  }
  const std::optional<std::string> kind = v->text_of("event");
  if (!kind) {
    ++record_.health.foreign;
    return;
  }
  event(*v, *kind);
}

void StreamReader::event(const JsonValue& v, const std::string& kind) {
  RunRecord& r = record_;
  ++r.health.events;
  if (std::optional<JsonValue>* slot = singular(r, kind)) {
    *slot = v;
    return;
  }
  if (kind == "fault") return fault(v);
  if (kind == "progress") return progress(v);
  if (kind == "phase") return phase(v);
  if (kind == "cell") return cell();
  if (kind == "map") return map(v);
  if (kind == "klog") return klog(v);
  if (kind == "bench_point") return bench_point(v);
  if (kind == "hcl_point") return hcl_point(v);
  if (kind == "hcl_phase") return hcl_phase(v);
  if (kind == "hcl_error") return hcl_error(v);
  if (kind == "log") {
    if (const auto msg = v.text_of("msg")) keep_latest(r.log, *msg, kMaxLogLines);
    return;
  }
  if (kind == "pressure") return keep_latest(r.pressure, v, kMaxLogLines);
  if (kind == "hcl_map") return;  // the qualification's live progress: nothing to keep
  --r.health.events;
  ++r.health.foreign;
}

namespace {

// Called from inside stdio: no exception may cross it. Bytes the reader
// had no memory for are a write error of the stream.
ssize_t reader_write(void* cookie, const char* buf, size_t size) {
  try {
    static_cast<StreamReader*>(cookie)->feed(std::string_view(buf, size));
  } catch (...) {
    return -1;
  }
  return static_cast<ssize_t>(size);
}

}  // namespace

FILE* open_reader_stream(StreamReader& reader) {
  cookie_io_functions_t io{};
  io.write = reader_write;
  return fopencookie(&reader, "w", io);
}

bool read_stream_file(const std::string& path, StreamReader& reader, std::string* error,
                      size_t max_bytes) {
  // A FIFO or a terminal is read as a stream; only the open must not wait
  // for a writer that never comes, so it is opened without blocking and the
  // reads then block as usual.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (error != nullptr) *error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (error != nullptr) *error = path + " is a directory";
    close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  char buf[65536];
  size_t total = 0;
  for (;;) {
    if (total >= max_bytes) {
      reader.record().health.read_limit = true;
      break;
    }
    const ssize_t n = read(fd, buf, std::min(sizeof buf, max_bytes - total));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error != nullptr) *error = "cannot read " + path + ": " + strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
    reader.feed(std::string_view(buf, static_cast<size_t>(n)));
  }
  close(fd);
  reader.finish();
  return true;
}

}  // namespace dravik::html
