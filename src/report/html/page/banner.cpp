// The head of every page: the verdict banner (word, exit status, end
// reason), the facts of the run, and what the stream itself was like.
#include "report/html/draw/text.h"
#include "report/html/page/parts.h"

namespace dravik::html {

namespace {

// The first of the records' text members named key.
std::optional<std::string> text_from(std::initializer_list<const std::optional<JsonValue>*> from,
                                     std::string_view key) {
  for (const std::optional<JsonValue>* v : from) {
    if (*v) {
      if (auto t = (*v)->text_of(key)) return t;
    }
  }
  return std::nullopt;
}

std::optional<double> number_from(std::initializer_list<const std::optional<JsonValue>*> from,
                                  std::string_view key) {
  for (const std::optional<JsonValue>* v : from) {
    if (*v) {
      if (auto n = (*v)->number_of(key)) return n;
    }
  }
  return std::nullopt;
}

std::string text_or_missing(const std::optional<std::string>& t) {
  return t && !t->empty() ? esc(*t) : missing();
}

std::string end_reason_of(const RunRecord& r) {
  if (auto t = text_from({&r.summary, &r.run_end}, "end_reason")) return *t;
  if (r.hcl_abort) return "aborted: memory pressure";
  if (r.bench_summary) return "completed";
  return "";
}

// The command line as one text: the words joined by spaces, each quoted
// when it holds a blank or a quote.
std::optional<std::string> command_line(const RunRecord& r) {
  if (!r.run_end) return std::nullopt;
  const JsonValue* options = r.run_end->get("options");
  if (options == nullptr || options->type != JsonValue::Type::array) return std::nullopt;
  std::string line = "dravik";
  for (const JsonValue& word : options->items) {
    if (word.type != JsonValue::Type::string) continue;
    const bool quote = word.text.empty() || word.text.find_first_of(" \t'\"\\") != std::string::npos;
    line += ' ';
    if (!quote) {
      line += word.text;
      continue;
    }
    line += '\'';
    for (const char c : word.text) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

const char* mode_name(PageMode mode) {
  switch (mode) {
    case PageMode::fault_test: return "fault test";
    case PageMode::bench: return "benchmark";
    case PageMode::hcl: return "qualification";
    case PageMode::selftest: return "self-test";
    default: return "unknown";
  }
}

}  // namespace

std::string page_verdict(const RunRecord& r) {
  if (r.hcl_verdict) {
    if (auto v = r.hcl_verdict->text_of("verdict")) return *v;
  }
  if (r.summary) {
    if (auto v = r.summary->text_of("verdict")) return *v;
  }
  if (r.run_end) {
    if (auto v = r.run_end->text_of("verdict")) return *v;
  }
  return "";
}

PageMode page_mode(const RunRecord& r) {
  const std::optional<std::string> word = text_from({&r.run_end, &r.start}, "mode");
  if (word) {
    if (*word == "PRODUCTION" || *word == "OFFLINE") return PageMode::fault_test;
    if (*word == "BENCH") return PageMode::bench;
    if (*word == "HCL") return PageMode::hcl;
    if (*word == "SELFTEST") return PageMode::selftest;
  }
  if (r.hcl_verdict || r.hcl_info || !r.phases.empty() || !r.sweep.empty()) return PageMode::hcl;
  if (!r.bench.empty() || r.bench_summary) return PageMode::bench;
  if (r.summary || !r.faults.empty() || r.map || r.progress) return PageMode::fault_test;
  return PageMode::unknown;
}

void banner_section(std::string& out, const RunRecord& r, PageMode mode) {
  const std::string verdict = page_verdict(r);
  const std::string reason = end_reason_of(r);
  std::optional<double> exit_status = number_from({&r.run_end}, "exit_status");
  if (!exit_status) exit_status = number_from({&r.hcl_verdict}, "exit");

  const char* cls = verdict.empty() ? "info" : status_class(verdict);
  out += std::string("<header class=\"banner ") + cls + "\" id=\"banner\">\n<p class=\"verdict\">";
  if (!verdict.empty()) {
    out += "Verdict: <strong id=\"verdict\">" + esc(verdict) + "</strong>";
  } else if (mode == PageMode::bench) {
    out += "<strong id=\"verdict\">BENCHMARK</strong> (measures only, no verdict)";
  } else {
    out += "Verdict: <strong id=\"verdict\">" + std::string(kMissing) + "</strong>";
  }
  out += "</p>\n<p>Exit status: <strong id=\"exit-status\">" +
         (exit_status ? fixed(*exit_status, 0) : missing()) + "</strong> &middot; End reason: <strong id=\"end-reason\">" +
         (reason.empty() ? missing() : esc(reason)) + "</strong></p>\n";
  if (!reason.empty() && reason != "completed") {
    out += "<p class=\"note\">The run did not complete: the verdict covers only what was tested "
           "before it ended.</p>\n";
  }
  if (r.hcl_verdict && r.hcl_verdict->flag_of("provisional").value_or(false)) {
    out += "<p class=\"note\">Provisional: a quick tier or less than 30 s of saturation.</p>\n";
  }
  if (r.hcl_verdict && !r.hcl_verdict->flag_of("qa_eligible").value_or(true)) {
    out += "<p class=\"note\">[SETUP NOT ELIGIBLE FOR QA]</p>\n";
  }
  out += "</header>\n";

  out += "<section id=\"run\"><h2>Run</h2><table class=\"facts\">\n";
  const auto all = {&r.run_end, &r.start, &r.summary};
  std::string mode_text = text_from({&r.run_end, &r.start}, "mode").value_or(mode_name(mode));
  // The start event's profile is the fault test's: a qualification's tier
  // comes from its verdict.
  std::optional<std::string> tier = text_from({&r.run_end, &r.hcl_verdict}, "tier");
  if (!tier && mode == PageMode::fault_test) tier = text_from({&r.start}, "profile");
  if (tier && *tier != "none" && !tier->empty()) mode_text += " / " + *tier;
  fact_row(out, "Mode", esc(mode_text));
  fact_row(out, "Host", text_or_missing(text_from({&r.run_end}, "host")));
  fact_row(out, "Kernel", text_or_missing(text_from({&r.run_end}, "kernel")));
  fact_row(out, "Processor", text_or_missing(text_from({&r.run_end}, "processor")));
  const std::optional<double> mem_total = number_from(all, "mem_total");
  fact_row(out, "Memory total", mem_total ? esc(bytes_text(*mem_total)) : missing());
  fact_row(out, "Version", text_or_missing(text_from(all, "version")));
  const std::optional<std::string> line = command_line(r);
  fact_row(out, "Command line", line ? "<code>" + esc(*line) + "</code>" : missing());
  fact_row(out, "Start", text_or_missing(text_from({&r.run_end}, "start")));
  fact_row(out, "End", text_or_missing(text_from({&r.run_end}, "end")));
  std::optional<double> duration = number_from({&r.summary, &r.run_end}, "duration");
  fact_row(out, "Duration", duration ? esc(duration_text(*duration)) : missing(), "duration");
  std::optional<double> tested = number_from({&r.summary}, "covered_total");
  if (!tested) tested = number_from({&r.run_end}, "tested_bytes");
  if (!tested && r.hcl_verdict) {
    if (const JsonValue* cov = r.hcl_verdict->get("coverage")) tested = cov->number_of("arena_bytes");
  }
  if (mode == PageMode::bench || mode == PageMode::selftest) {
    fact_row(out, "Bytes tested", "none (this mode runs no fault test over the memory)");
  } else {
    // The exact count beside the rounded one: the figure as the stream has it.
    fact_row(out, "Bytes tested",
             tested ? esc(bytes_text(*tested)) + " (" + fixed(*tested, 0) + " bytes)" : missing(),
             "bytes-tested");
  }
  if (auto seed = text_from({&r.start}, "seed")) fact_row(out, "PRNG seed", "<code>" + esc(*seed) + "</code>");
  out += "</table></section>\n";
}

void stream_section(std::string& out, const RunRecord& r) {
  const StreamHealth& h = r.health;
  const bool clean = h.unreadable == 0 && h.too_long == 0 && !h.cut_at_end && !h.read_limit;
  out += "<section id=\"stream\"><h2>The event stream</h2>\n<p>" + count_text(h.lines) +
         " lines, " + count_text(h.events) + " events of this program";
  if (h.foreign > 0) out += ", " + count_text(h.foreign) + " other JSON objects (skipped)";
  out += ".</p>\n";
  if (!clean) {
    out += "<p class=\"note\"><span class=\"tag warn\">INCOMPLETE</span> ";
    if (h.unreadable > 0) {
      out += count_text(h.unreadable) + " lines were not complete JSON (torn or not this program's), lines";
      for (const int64_t n : h.unreadable_lines) out += " " + std::to_string(n);
      if (static_cast<size_t>(h.unreadable) > h.unreadable_lines.size()) out += " &hellip;";
      out += ". ";
    }
    if (h.too_long > 0) out += count_text(h.too_long) + " lines were too long to read. ";
    if (h.cut_at_end) out += "The stream ends in the middle of a line: it was cut. ";
    if (h.read_limit) out += "Reading stopped at the size limit; the rest was not read. ";
    out += "What follows is what the readable lines said.</p>\n";
  }
  std::vector<const char*> lacking;
  if (!r.start) lacking.push_back("start (version, memory total, seed)");
  if (!r.run_end) lacking.push_back("the run's closing record (host, kernel, processor, command line, start and end, exit status)");
  const PageMode mode = page_mode(r);
  if (mode == PageMode::fault_test && !r.summary) lacking.push_back("summary (verdict, end reason, EDAC after)");
  if (mode == PageMode::hcl && !r.hcl_verdict) lacking.push_back("hcl_verdict (criteria)");
  if (mode == PageMode::bench && !r.bench_summary) lacking.push_back("bench_summary (the ladder may be incomplete)");
  if (h.events == 0) {
    out += "<p class=\"note\"><span class=\"tag fail\">NO EVENTS</span> Nothing in this stream is an "
           "event of this program.</p>\n";
  } else if (!lacking.empty()) {
    out += "<p>Missing from the stream:</p><ul class=\"lacking\">";
    for (const char* what : lacking) out += std::string("<li>") + what + "</li>";
    out += "</ul>\n";
  }
  out += "</section>\n";
}

}  // namespace dravik::html
