#include "base/wildcard.h"

#include <cstddef>

namespace Pellux {
namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view text, WildcardQuestion question) {
  // Greedy with one resumption point, the last '*' seen: a later mismatch lets that star take
  // one more character and retries from there. Earlier stars never need revisiting, because
  // the last one can already absorb whatever they could: the work is at most the product of
  // the two lengths, whatever the input.
  const auto matchesOne = [&](char want, char have) {
    return (want == '?' && question == WildcardQuestion::kAnyOne) ||
           LowerAscii(want) == LowerAscii(have);
  };
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && matchesOne(pattern[p], text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace Pellux
