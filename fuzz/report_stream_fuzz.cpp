// The report's readers of outside bytes: the stream reader over a saved
// JSON-lines stream (fed whole and in pieces, then drawn as a page), the
// JSON value parser, and the processor name read from cpuinfo. A page must
// come out whole and hold no markup from the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "memory/probes/host_facts.h"
#include "report/html/page/report_page.h"
#include "report/html/stream/json_value.h"
#include "report/html/stream/reader.h"

namespace {

std::string render(std::string_view bytes, size_t piece) {
  dravik::html::StreamReader reader;
  for (size_t at = 0; at < bytes.size(); at += piece) reader.feed(bytes.substr(at, piece));
  reader.finish();
  const std::vector<dravik::html::HistoryEntry> no_runs;
  return dravik::html::render_report(reader.record(), &no_runs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static dravik::fuzz::MemFile file;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string page = render(bytes, bytes.size() + 1);
  if (page.size() < 8 || page.compare(page.size() - 8, 8, "</html>\n") != 0) abort();
  if (page.find("<script") != std::string::npos || page.find("<img") != std::string::npos) abort();
  // Pieces of the stream give the page the whole stream gives.
  const size_t piece = size > 0 ? 1 + data[0] % 17 : 1;
  if (render(bytes, piece) != page) abort();
  // A string parsed and quoted again parses to itself.
  if (const auto v = dravik::html::parse_json(bytes); v && v->type == dravik::html::JsonValue::Type::string) {
    const auto again = dravik::html::parse_json(dravik::html::json_quote(v->text));
    if (!again || again->text != v->text) abort();
  }
  dravik::processor_name(file.set(data, size));
  return 0;
}
