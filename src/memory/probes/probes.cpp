#include "memory/probes/probes.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/line_reader.h"

namespace dravik {

namespace {

// An open file that closes itself on every return path.
class File {
 public:
  explicit File(const std::string& path) : f_(fopen(path.c_str(), "r")) {}
  ~File() {
    if (f_) fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  FILE* get() const { return f_; }

 private:
  FILE* f_;
};

// A signed decimal number after optional white space ("%ld"); false when no
// digit follows or the value does not fit in 64 bits.
bool parse_i64(const char* text, int64_t* out) {
  errno = 0;
  char* end = nullptr;
  const long long value = strtoll(text, &end, 10);
  if (end == text || errno == ERANGE) return false;
  *out = value;
  return true;
}

enum class Reading { missing, malformed, ok };

// The first number of a one-line sysfs counter file.
Reading read_counter(const std::string& path, int64_t* out) {
  File file(path);
  if (!file.get()) return Reading::missing;
  char buf[64];
  if (fgets(buf, sizeof buf, file.get()) == nullptr) return Reading::malformed;
  int64_t value = 0;
  // A negative error count is not a count; it must not pass for the -1
  // that means "not available" either.
  if (!parse_i64(buf, &value) || value < 0) return Reading::malformed;
  *out = value;
  return Reading::ok;
}

int64_t saturating_add(int64_t total, int64_t more) {
  return total > INT64_MAX - more ? INT64_MAX : total + more;
}

}  // namespace

int64_t meminfo_kb(const char* key, const std::string& path) {
  if (key == nullptr || key[0] == '\0') return -1;
  File file(path);
  if (!file.get()) return -1;
  const size_t key_len = strlen(key);
  int64_t result = -1;
  for_each_line<256>(file.get(), [&](const char* line) {
    if (strncmp(line, key, key_len) != 0 || line[key_len] != ':') return false;
    int64_t value = 0;
    if (parse_i64(line + key_len + 1, &value)) result = value;
    return true;  // only the first matching line counts
  });
  return result;
}

uint64_t mem_available_bytes(const std::string& path, const CgroupPaths& cgroup) {
  int64_t kb = meminfo_kb("MemAvailable", path);
  if (kb < 0) kb = meminfo_kb("MemFree", path);
  if (kb < 0) return 0;
  const uint64_t ukb = static_cast<uint64_t>(kb);
  const uint64_t available = ukb > UINT64_MAX / 1024 ? UINT64_MAX : ukb * 1024;
  return std::min(available, cgroup_memory_headroom(cgroup));
}

double psi_some_avg10(const std::string& path) {
  File file(path);
  if (!file.get()) return -1.0;
  double result = -1.0;
  for_each_line<160>(file.get(), [&](const char* line) {
    if (strncmp(line, "some", 4) != 0) return false;
    const char* p = line + 4;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (strncmp(p, "avg10=", 6) != 0) return true;
    p += 6;
    char* end = nullptr;
    const double value = strtod(p, &end);
    // A share of time is a finite percentage; nan, inf or a negative value
    // is a malformed line, not a reading.
    if (end != p && std::isfinite(value) && value >= 0.0) result = value;
    return true;
  });
  return result;
}

EdacCounts edac_counts(const std::string& mc_dir) {
  EdacCounts totals{0, 0};
  for (int mc = 0; mc < 32; ++mc) {
    const std::string dir = mc_dir + "/mc" + std::to_string(mc);
    int64_t value = 0;
    const Reading ce = read_counter(dir + "/ce_count", &value);
    if (ce == Reading::missing) {
      if (mc == 0) return EdacCounts{};
      break;
    }
    if (ce == Reading::ok) totals.ce = saturating_add(totals.ce, value);
    if (read_counter(dir + "/ue_count", &value) == Reading::ok) {
      totals.ue = saturating_add(totals.ue, value);
    }
  }
  return totals;
}

uint64_t read_size_file(const std::string& path) {
  File file(path);
  if (!file.get()) return 0;
  char buf[64];
  if (fgets(buf, sizeof buf, file.get()) == nullptr) return 0;
  const char* p = buf;
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  if (!isdigit(static_cast<unsigned char>(*p))) return 0;  // also refuses "-5"
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = strtoull(p, &end, 10);
  if (errno == ERANGE) return 0;
  uint64_t multiplier = 1;
  const int suffix = toupper(static_cast<unsigned char>(*end));
  if (suffix == 'K') multiplier = 1024;
  if (suffix == 'M') multiplier = 1048576;
  // A size too large for 64 bits is as unknown as a missing one.
  if (number > UINT64_MAX / multiplier) return 0;
  return static_cast<uint64_t>(number) * multiplier;
}

}  // namespace dravik
