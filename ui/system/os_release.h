#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace Pellux {

// The KEY=value assignments of an os-release file (/etc/os-release), read as the shell would
// read them but without running anything: values may be quoted in '' or "", a backslash escapes
// the next character (inside "" only $ ` " \ and a line break), quoted values may span lines,
// '#' starts a comment line, and an unquoted blank ends the value. A line that is not an
// assignment, or whose quote never closes, is skipped; a later assignment of a key wins.
class OsRelease {
 public:
  // Readers pass at most this much of a file; the parser stops there too.
  static constexpr std::size_t kMaxTextBytes = std::size_t{64} * 1024;
  // A longer value is dropped as the junk it must be.
  static constexpr std::size_t kMaxValueBytes = 4096;

  static OsRelease Parse(std::string_view text);

  // The value of `key`, or nullopt when the text did not assign it.
  [[nodiscard]] std::optional<std::string> Get(const std::string& key) const;
  [[nodiscard]] std::size_t Size() const { return values_.size(); }

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace Pellux
