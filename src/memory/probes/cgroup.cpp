#include "memory/probes/cgroup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/line_reader.h"

namespace dravik {

namespace {

// Longer lines than these are not cgroup entries or mounts worth reading.
constexpr size_t kCgroupLine = 4096;
constexpr size_t kMountLine = 4096;
constexpr size_t kValueLine = 64;
// A group deeper than this is not a real hierarchy; the walk stops there.
constexpr int kMaxDepth = 64;

std::vector<std::string> split(const char* text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == sep) {
      parts.push_back(part);
      part.clear();
    } else {
      part += *p;
    }
  }
  parts.push_back(part);
  return parts;
}

bool has_token(const std::string& list, const char* token) {
  for (const std::string& t : split(list.c_str(), ',')) {
    if (t == token) return true;
  }
  return false;
}

// The mount table writes blanks, tabs, newlines and backslashes of a path as
// \ and three octal digits.
std::string unescape_octal(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
        s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The process's group path in the v1 memory hierarchy and in the v2 one, as
// listed in /proc/self/cgroup ("id:controllers:path"); empty when absent.
struct GroupPaths {
  std::string v1;
  std::string v2;
};

GroupPaths read_group_paths(const std::string& proc_cgroup) {
  GroupPaths groups;
  FILE* f = fopen(proc_cgroup.c_str(), "re");
  if (f == nullptr) return groups;
  for_each_line<kCgroupLine>(f, [&groups](const char* line) {
    const char* first = strchr(line, ':');
    const char* second = first ? strchr(first + 1, ':') : nullptr;
    if (second == nullptr || second[1] != '/') return false;
    const std::string id(line, first);
    const std::string controllers(first + 1, second);
    if (id == "0" && controllers.empty()) {
      if (groups.v2.empty()) groups.v2 = second + 1;
    } else if (has_token(controllers, "memory")) {
      if (groups.v1.empty()) groups.v1 = second + 1;
    }
    return false;
  });
  fclose(f);
  return groups;
}

// A mounted cgroup hierarchy: the group shown at the mount point (root) and
// the mount point.
struct CgroupMount {
  std::string root;
  std::string point;
};

// Mount-table line: id parent major:minor root point options [optional...] -
// type source super-options.
bool parse_mount(const char* line, bool want_v2, CgroupMount& out) {
  const std::vector<std::string> f = split(line, ' ');
  if (f.size() < 10) return false;
  size_t dash = 6;
  while (dash < f.size() && f[dash] != "-") ++dash;
  if (dash + 3 >= f.size()) return false;
  const std::string& type = f[dash + 1];
  if (want_v2 ? type != "cgroup2" : type != "cgroup" || !has_token(f[dash + 3], "memory")) {
    return false;
  }
  out.root = unescape_octal(f[3]);
  out.point = unescape_octal(f[4]);
  return !out.root.empty() && out.root[0] == '/' && !out.point.empty() && out.point[0] == '/';
}

bool has_dotdot(const std::string& path) {
  for (const std::string& part : split(path.c_str(), '/')) {
    if (part == "..") return true;
  }
  return false;
}

// The directory of group in a mount showing it, or false when no mount of
// the hierarchy contains the group.
bool group_dir(const std::string& mountinfo, bool v2, const std::string& group,
               MemoryCgroup& out) {
  if (group.empty() || group[0] != '/' || has_dotdot(group)) return false;
  FILE* f = fopen(mountinfo.c_str(), "re");
  if (f == nullptr) return false;
  bool found = false;
  for_each_line<kMountLine>(f, [&](const char* line) {
    CgroupMount m;
    if (!parse_mount(line, v2, m) || has_dotdot(m.root)) return false;
    std::string rest;
    if (m.root == "/") {
      rest = group;
    } else if (group == m.root || group.compare(0, m.root.size() + 1, m.root + "/") == 0) {
      rest = group.substr(m.root.size());
    } else {
      return false;
    }
    while (m.point.size() > 1 && m.point.back() == '/') m.point.pop_back();
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    out.mount = m.point;
    out.dir = m.point == "/" && !rest.empty() ? rest : m.point + rest;
    out.v2 = v2;
    found = true;
    return true;
  });
  fclose(f);
  return found;
}

enum class Value { missing, unlimited, number };

// The first line of a cgroup value file: a decimal byte count, or "max".
Value read_value(const std::string& path, uint64_t& number) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return Value::missing;
  Value result = Value::missing;
  for_each_line<kValueLine>(f, [&](const char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (strncmp(p, "max", 3) == 0 && (p[3] == '\0' || isspace(static_cast<unsigned char>(p[3])))) {
      result = Value::unlimited;
      return true;
    }
    if (!isdigit(static_cast<unsigned char>(*p))) return true;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = strtoull(p, &end, 10);
    if (errno == ERANGE || (*end != '\0' && !isspace(static_cast<unsigned char>(*end)))) return true;
    number = static_cast<uint64_t>(v);
    result = Value::number;
    return true;
  });
  fclose(f);
  return result;
}

// Limit of one group, UINT64_MAX when it sets none.
uint64_t level_limit(const std::string& dir, bool v2) {
  uint64_t limit = 0;
  if (read_value(dir + (v2 ? "/memory.max" : "/memory.limit_in_bytes"), limit) != Value::number) {
    return UINT64_MAX;
  }
  return limit;
}

// Headroom of one group, UINT64_MAX when it sets no limit.
uint64_t level_headroom(const std::string& dir, bool v2) {
  const uint64_t limit = level_limit(dir, v2);
  if (limit == UINT64_MAX) return UINT64_MAX;
  uint64_t usage = 0;
  if (read_value(dir + (v2 ? "/memory.current" : "/memory.usage_in_bytes"), usage) !=
      Value::number) {
    return limit;
  }
  return limit > usage ? limit - usage : 0;
}

}  // namespace

std::vector<MemoryCgroup> memory_cgroups(const CgroupPaths& paths) {
  std::vector<MemoryCgroup> found;
  const GroupPaths groups = read_group_paths(paths.proc_cgroup);
  MemoryCgroup g;
  if (group_dir(paths.mountinfo, false, groups.v1, g)) found.push_back(g);
  if (group_dir(paths.mountinfo, true, groups.v2, g)) found.push_back(g);
  return found;
}

namespace {

// The smallest figure of one level over the process's groups and every
// ancestor up to the mount (a parent's limit caps its children too).
uint64_t smallest_over_levels(const CgroupPaths& paths,
                              uint64_t (*level)(const std::string&, bool)) {
  uint64_t smallest = UINT64_MAX;
  for (const MemoryCgroup& g : memory_cgroups(paths)) {
    std::string dir = g.dir;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      smallest = std::min(smallest, level(dir, g.v2));
      if (dir.size() <= g.mount.size()) break;
      const size_t slash = dir.rfind('/');
      if (slash == std::string::npos || slash < g.mount.size()) break;
      dir.resize(slash);
    }
  }
  return smallest;
}

}  // namespace

uint64_t cgroup_memory_headroom(const CgroupPaths& paths) {
  return smallest_over_levels(paths, level_headroom);
}

uint64_t cgroup_memory_limit(const CgroupPaths& paths) {
  return smallest_over_levels(paths, level_limit);
}

}  // namespace dravik
