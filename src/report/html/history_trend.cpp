#include "report/html/history_trend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "report/records/files/folder_file.h"

namespace dravik::html {

namespace {

const JsonValue* criterion(const JsonValue& verdict, std::string_view name) {
  const JsonValue* list = verdict.get("criteria");
  if (list == nullptr) return nullptr;
  for (const JsonValue& c : list->items) {
    if (c.text_of("name") == name) return &c;
  }
  return nullptr;
}

}  // namespace

HistoryEntry history_entry(const JsonValue& line) {
  HistoryEntry e;
  e.start = line.text_of("start").value_or("");
  e.mode = line.text_of("event").value_or("");
  e.verdict = line.text_of("verdict").value_or("");
  e.exit_status = line.count_of("exit_status");
  if (e.mode == "summary") {
    const std::optional<int64_t> hard = line.count_of("hard"), transient = line.count_of("transient");
    if (hard && transient) e.faults = *hard + *transient;
    if (const JsonValue* delta = line.get("edac_delta")) {
      e.corrected = delta->count_of("ce");
      if (e.corrected && *e.corrected < 0) e.corrected.reset();  // no EDAC counters
    }
  } else if (e.mode == "hcl_verdict") {
    if (const JsonValue* zero = criterion(line, "zero_errors")) e.faults = zero->count_of("bit_errors");
    if (const JsonValue* ce = criterion(line, "ce_policy")) e.corrected = ce->count_of("edac_ce");
  }
  return e;
}

bool read_history_tail(const std::string& path, std::vector<HistoryEntry>* runs, std::string* error,
                       size_t max_bytes, size_t max_runs) {
  Folder folder;
  if (!open_folder_of(path, folder)) {
    return fail_with_errno(error, "cannot open the folder of " + path);
  }
  // Never through a link, and never opening a device or FIFO put in the
  // file's place.
  Descriptor file;
  const Opened opened = open_regular_at(folder.fd.get(), folder.name, O_RDONLY, 0, file);
  if (opened == Opened::kNotRegular) return fail_with(error, not_regular_text(path));
  if (opened == Opened::kFailed) return fail_with_errno(error, "cannot open " + path);
  const int fd = file.get();
  struct stat st {};
  if (fstat(fd, &st) != 0) return fail_with_errno(error, "cannot read " + path);
  const auto size = static_cast<size_t>(st.st_size);
  const size_t from = size > max_bytes ? size - max_bytes : 0;
  std::string tail(size - from, '\0');
  size_t got = 0;
  while (got < tail.size()) {
    const ssize_t n = pread(fd, tail.data() + got, tail.size() - got, static_cast<off_t>(from + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank meanwhile: what was read stands
    got += static_cast<size_t>(n);
  }
  tail.resize(got);
  // Reading from the middle of the file: the first line is only a piece.
  size_t pos = 0;
  if (from > 0) {
    pos = tail.find('\n');
    pos = pos == std::string::npos ? tail.size() : pos + 1;
  }
  std::vector<HistoryEntry> all;
  while (pos < tail.size()) {
    size_t end = tail.find('\n', pos);
    if (end == std::string::npos) end = tail.size();
    const std::optional<JsonValue> line = parse_json(std::string_view(tail).substr(pos, end - pos));
    if (line && line->type == JsonValue::Type::object && line->text_of("event")) {
      all.push_back(history_entry(*line));
    }
    pos = end + 1;
  }
  if (all.size() > max_runs) all.erase(all.begin(), all.end() - static_cast<std::ptrdiff_t>(max_runs));
  *runs = std::move(all);
  return true;
}

}  // namespace dravik::html
