// Classification of one kernel log line: clean it, drop known noise, find its
// severity, fold an immediate repetition, keep it in the ring, count it and
// announce it.
#include <cstring>

#include "klog/klog.h"
#include "core/run/event_sink.h"

namespace dravik {

namespace {

constexpr size_t kTextMax = sizeof(KlogEntry::text) - 1;  // 175

bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Copies the first line of src into dst (at most 175 bytes, control bytes
// made blanks, trailing blanks removed); returns its length. Continuation
// lines of a kmsg record (" SUBSYSTEM=...") are never looked at.
size_t clean_line(const char* src, char* dst) {
  while (*src == ' ' || *src == '\t') ++src;
  size_t n = 0;
  while (n < kTextMax && src[n] != '\0' && src[n] != '\n' && src[n] != '\r') {
    const unsigned char c = static_cast<unsigned char>(src[n]);
    dst[n] = c < 0x20 ? ' ' : static_cast<char>(c);
    ++n;
  }
  while (n > 0 && dst[n - 1] == ' ') --n;
  dst[n] = '\0';
  return n;
}

void lower_copy(const char* src, char* dst) {
  for (; *src; ++src, ++dst) {
    const char c = *src;
    *dst = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  *dst = '\0';
}

bool ignored(const char* lower) {
  for (const char* const* phrase = klog_ignore_list(); *phrase; ++phrase) {
    if (strstr(lower, *phrase)) return true;
  }
  return false;
}

bool contains_word(const char* lower, const char* needle) {
  const size_t len = strlen(needle);
  for (const char* p = strstr(lower, needle); p; p = strstr(p + 1, needle)) {
    const bool starts = p == lower || !is_alnum(p[-1]);
    const bool ends = !is_alnum(p[len]);  // the terminator is not alphanumeric
    if (starts && ends) return true;
  }
  return false;
}

const KlogRule* match_rule(const char* lower, const KlogRule* rules) {
  for (const KlogRule* r = rules; r->needle; ++r) {
    const bool hit = r->whole_word ? contains_word(lower, r->needle) : strstr(lower, r->needle) != nullptr;
    if (hit) return r;
  }
  return nullptr;
}

// Ring slot of the entry age steps back from the newest, or -1.
int32_t recent_slot(const KlogMonitor& m, int32_t age) {
  if (age < 0 || age >= m.entries) return -1;
  constexpr int32_t n = KlogMonitor::kRing;
  return ((m.next - 1 - age) % n + n) % n;
}

}  // namespace

const KlogEntry* klog_recent(const KlogMonitor& m, int32_t age) {
  const int32_t slot = recent_slot(m, age);
  return slot < 0 ? nullptr : &m.ring[slot];
}

void klog_classify(KlogContext& run, const char* line, double ts) {
  klog_classify(run, line, ts, klog_rules());
}

void klog_classify(KlogContext& run, const char* line, double ts, const KlogRule* rules) {
  if (line == nullptr) return;
  char text[kTextMax + 1];
  if (clean_line(line, text) == 0) return;
  char lower[kTextMax + 1];
  lower_copy(text, lower);
  if (ignored(lower)) return;
  const KlogRule* rule = match_rule(lower, rules);
  if (rule == nullptr || rule->level < 0) return;

  KlogMonitor& m = run.klog;
  const int32_t newest = recent_slot(m, 0);
  if (newest >= 0) {
    KlogEntry& last = m.ring[newest];
    if (last.level == rule->level && strcmp(last.text, text) == 0) {
      ++last.count;
      return;
    }
  }

  KlogEntry& e = m.ring[m.next];
  e = KlogEntry{};
  e.level = rule->level;
  strncpy(e.tag, rule->tag, sizeof e.tag - 1);
  memcpy(e.text, text, sizeof text);
  e.kts = ts;
  e.count = 1;
  m.next = (m.next + 1) % KlogMonitor::kRing;
  if (m.entries < KlogMonitor::kRing) ++m.entries;

  if (e.level == 2) {
    ++m.crit;
  } else if (e.level == 1) {
    ++m.warn;
  } else {
    ++m.info;
  }
  emit_event(run.sink, EventKind::klog, &e);
}

void klog_take_baseline(KlogContext& run) {
  KlogMonitor& m = run.klog;
  if (m.baseline_taken) return;
  m.base_crit = m.crit;
  m.base_warn = m.warn;
  m.baseline_taken = 1;
}

int64_t klog_crit_during(const KlogMonitor& m) {
  return m.baseline_taken ? m.crit - m.base_crit : m.crit;
}

int64_t klog_warn_during(const KlogMonitor& m) {
  return m.baseline_taken ? m.warn - m.base_warn : m.warn;
}

}  // namespace dravik
