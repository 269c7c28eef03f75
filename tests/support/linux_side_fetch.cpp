#include "tests/support/linux_side_fetch.h"

#include <fstream>
#include <iostream>
#include <iterator>

namespace Pellux {

std::optional<std::string> TakeFetchAnswer(const std::filesystem::path& out,
                                           const std::string& why) {
  std::string text;
  {
    std::ifstream file(out, std::ios::binary);
    if (!file) {
      std::cerr << why << "\n";
      return std::nullopt;
    }
    text.assign(std::istreambuf_iterator<char>(file), {});
  }
  std::filesystem::remove(out);
  return text;
}

}  // namespace Pellux
