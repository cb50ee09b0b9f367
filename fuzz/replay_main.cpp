// Runs a fuzz target over stored inputs without libFuzzer: every file of the
// directories (or the files) named on the command line, in name order. The
// test suite replays the seed corpora this way, so a parser change that
// breaks on a known input is caught by the ordinary build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // An allocation of exactly the input's size, so that a read past its end
  // is caught by AddressSanitizer as libFuzzer would catch it.
  const size_t size = bytes.size();
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
  if (size > 0) memcpy(copy.get(), bytes.data(), size);
  LLVMFuzzerTestOneInput(copy.get(), size);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argv[i], ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
        if (entry.is_regular_file(ec)) files.push_back(entry.path());
      }
    } else {
      files.emplace_back(argv[i]);
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      if (!replay(file)) {
        fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      ++inputs;
    }
  }
  fprintf(stderr, "replayed %zu inputs\n", inputs);
  // No input at all means a missing or misnamed corpus, not a pass.
  return inputs > 0 ? 0 : 1;
}
