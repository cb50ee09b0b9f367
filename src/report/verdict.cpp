#include "report/verdict.h"

namespace dravik {

const char* json_verdict(int64_t hard, int64_t transient, bool addressing_suspect) {
  if (hard > 0) return "FAIL";
  if (addressing_suspect) return "SUSPECT";
  if (transient <= 0) return "PASS";
  return "PASS_WITH_TRANSIENTS";
}

}  // namespace dravik
