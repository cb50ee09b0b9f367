// The earlier runs of the box for the page's trend strip, from the kept
// history file (one JSON line per run). Only the file's tail is read, the
// file is opened relative to its folder without following a link and must
// be a regular file, so a link, a device or a huge file cannot make a
// report read what it should not or wait.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "report/html/page/report_page.h"
#include "report/html/stream/json_value.h"

namespace dravik::html {

// One history line as an entry of the strip.
HistoryEntry history_entry(const JsonValue& line);

// The last max_runs runs that parse among the last max_bytes of the file at
// path, oldest first. False with *error when the file cannot be read (it is
// missing, not a regular file, a link).
bool read_history_tail(const std::string& path, std::vector<HistoryEntry>* runs,
                       std::string* error, size_t max_bytes = size_t{1} << 20,
                       size_t max_runs = 30);

}  // namespace dravik::html
