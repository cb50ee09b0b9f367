#include "report/html/page/report_page.h"

#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

std::string render_report(const RunRecord& r, const std::vector<HistoryEntry>* history,
                          const std::string& history_note) {
  const PageMode mode = page_mode(r);
  const std::string verdict = page_verdict(r);
  const std::string host = r.run_end ? r.run_end->text_of("host").value_or("") : "";

  std::string out;
  out.reserve(64 * 1024 + r.faults.size() * 200);
  out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<meta name=\"color-scheme\" content=\"light dark\">\n<title>Dravik report";
  if (!verdict.empty()) out += " &mdash; " + esc(verdict);
  if (!host.empty()) out += " &mdash; " + esc(host);
  out += "</title>\n<style>\n";
  out += page_style();
  out += "</style></head>\n<body>\n<h1>Dravik report</h1>\n";
  banner_section(out, r, mode);
  switch (mode) {
    case PageMode::fault_test:
      map_section(out, r);
      fault_sections(out, r);
      break;
    case PageMode::bench: bench_sections(out, r); break;
    case PageMode::hcl: hcl_sections(out, r); break;
    case PageMode::selftest:
      out += "<section id=\"selftest\"><h2>Self-test</h2><p>The self-test plants a one-bit error in a "
             "buffer of its own and checks that it is reported as a hard fault: PASS means the fault "
             "path works on this box. Its details are on the console.</p></section>\n";
      break;
    default:
      out += "<section><h2>Run</h2><p>The stream holds no events that tell the kind of run.</p>"
             "</section>\n";
      break;
  }
  if (history != nullptr) history_section(out, *history, history_note);
  stream_section(out, r);
  out += "<footer>Written by dravik from the run's event stream. This page is one file: it runs no "
         "script and loads nothing from anywhere else.</footer>\n</body></html>\n";
  return out;
}

}  // namespace dravik::html
