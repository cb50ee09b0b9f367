// The command line: the input cut at NUL bytes is the argument list.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cmdline/cmdline.h"
#include "app/cmdline/option_values.h"
#include "core/config.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* const sink = fopen("/dev/null", "w");
  const std::vector<std::string> args = dravik::fuzz::split_input(data, size, '\0');
  if (args.size() > 256) return 0;
  std::vector<const char*> argv{"dravik"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  dravik::RunConfig cfg;
  dravik::parse_command_line(static_cast<int>(argv.size() - 1), argv.data(), cfg, sink, sink);
  // The value readers on their own, over the whole input as one text.
  const std::string text(reinterpret_cast<const char*>(data), size);
  uint64_t bytes = 0;
  dravik::read_size(text.c_str(), 4096, &bytes);
  uint64_t seed = 0;
  if (!dravik::read_seed(text.c_str(), &seed)) dravik::seed_hint(text.c_str());
  int64_t number = 0;
  dravik::read_integer(text.c_str(), INT32_MIN, INT32_MAX, &number);
  double figure = 0.0;
  dravik::read_figure(text.c_str(), 100.0, &figure);
  return 0;
}
