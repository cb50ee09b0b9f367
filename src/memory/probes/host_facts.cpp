#include "memory/probes/host_facts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/line_reader.h"

namespace dravik {

namespace {

// The value of a "key<tabs>: value" line when its key is key, else nullptr.
const char* field(const char* line, const char* key) {
  const size_t len = strlen(key);
  if (strncmp(line, key, len) != 0) return nullptr;
  const char* p = line + len;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != ':') return nullptr;
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

std::string trimmed(const char* text) {
  std::string s(text);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
  return s;
}

}  // namespace

std::string processor_name(const std::string& cpuinfo) {
  FILE* f = fopen(cpuinfo.c_str(), "re");
  if (f == nullptr) return "";
  std::string model, hardware, implementer, part;
  for_each_line<256>(f, [&](const char* line) {
    if (const char* v = field(line, "model name"); v != nullptr && model.empty()) model = trimmed(v);
    if (const char* v = field(line, "Hardware"); v != nullptr && hardware.empty()) hardware = trimmed(v);
    if (const char* v = field(line, "CPU implementer"); v != nullptr && implementer.empty()) {
      implementer = trimmed(v);
    }
    if (const char* v = field(line, "CPU part"); v != nullptr && part.empty()) part = trimmed(v);
    return !model.empty();
  });
  fclose(f);
  if (!model.empty()) return model;
  if (!hardware.empty()) return hardware;
  if (!implementer.empty() || !part.empty()) {
    return "ARM implementer " + (implementer.empty() ? "?" : implementer) + " part " +
           (part.empty() ? "?" : part);
  }
  return "";
}

HostFacts host_facts(const std::string& cpuinfo) {
  HostFacts facts;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0) facts.host = name;
  utsname u{};
  if (uname(&u) == 0) facts.kernel = std::string(u.sysname) + " " + u.release + " " + u.machine;
  facts.processor = processor_name(cpuinfo);
  return facts;
}

}  // namespace dravik
