#include "memory/address/dimm_label.h"

#include <cstdio>
#include <cstring>

namespace dravik {

namespace {

constexpr int kEdacControllers = 8;
constexpr int kEdacDimms = 32;

// Reads one EDAC dimm_label file: one line of at most 39 characters with
// trailing newlines and blanks removed. Empty when missing or blank.
void read_dimm_label(const char* path, char out[40]) {
  out[0] = '\0';
  FILE* f = fopen(path, "re");
  if (f == nullptr) return;
  if (fgets(out, 40, f) == nullptr) out[0] = '\0';
  fclose(f);
  size_t n = strlen(out);
  while (n > 0 &&
         (out[n - 1] == '\n' || out[n - 1] == '\r' || out[n - 1] == ' ' || out[n - 1] == '\t')) {
    out[--n] = '\0';
  }
}

}  // namespace

void unambiguous_dimm_label(const std::string& edac_mc, char out[40]) {
  out[0] = '\0';
  char path[192];
  char label[40];
  for (int mc = 0; mc < kEdacControllers; ++mc) {
    for (int dimm = 0; dimm < kEdacDimms; ++dimm) {
      const int n =
          snprintf(path, sizeof path, "%s/mc%d/dimm%d/dimm_label", edac_mc.c_str(), mc, dimm);
      if (n < 0 || static_cast<size_t>(n) >= sizeof path) continue;
      read_dimm_label(path, label);
      if (label[0] == '\0') continue;
      if (out[0] == '\0') {
        memcpy(out, label, sizeof label);
      } else if (strcmp(out, label) != 0) {
        out[0] = '\0';
        return;
      }
    }
  }
}

}  // namespace dravik
