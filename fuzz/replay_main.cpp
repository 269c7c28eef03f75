// The main of a fuzz target built without libFuzzer: runs every file named on the command line,
// or found in a folder named there, through the target once, in name order. The sanitizer build
// runs the committed corpus this way as a test, so that a past crash input can never come back
// unnoticed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path named(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(named, error)) {
      for (const auto& entry : std::filesystem::directory_iterator(named, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(named);
    }
    if (error) {
      std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 1;
  }
  for (const auto& file : files) {
    if (!Replay(file)) return 1;
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
