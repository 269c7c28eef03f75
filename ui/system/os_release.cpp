#include "ui/system/os_release.h"

namespace Pellux {
namespace {

bool IsKeyStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsKeyChar(char c) {
  return IsKeyStart(c) || (c >= '0' && c <= '9');
}

// Walks the text one assignment at a time.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text.substr(0, OsRelease::kMaxTextBytes)) {}

  // Calls `store(key, value)` for every well-formed assignment, in order.
  template <typename Store>
  void Run(Store&& store) {
    while (at_ < text_.size()) {
      SkipBlanks();
      std::string key;
      while (at_ < text_.size() && (key.empty() ? IsKeyStart(text_[at_]) : IsKeyChar(text_[at_]))) {
        key += text_[at_++];
      }
      std::string value;
      if (!key.empty() && at_ < text_.size() && text_[at_] == '=') {
        ++at_;
        if (ReadValue(value) && value.size() <= OsRelease::kMaxValueBytes) store(key, value);
      }
      SkipLine();
    }
  }

 private:
  void SkipBlanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }

  void SkipLine() {
    while (at_ < text_.size() && text_[at_] != '\n') ++at_;
    if (at_ < text_.size()) ++at_;
  }

  // Reads one shell word into `value`; false, with the position back on the word's first line,
  // when a quote never closes or the value outgrows OsRelease::kMaxValueBytes.
  bool ReadValue(std::string& value) {
    const std::size_t start = at_;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n' || c == ' ' || c == '\t') return true;
      ++at_;
      if (c == '\\') {
        if (at_ >= text_.size()) return true;
        if (text_[at_] != '\n') value += text_[at_];
        ++at_;
      } else if (c == '\'') {
        const std::size_t close = text_.find('\'', at_);
        if (close == std::string_view::npos) return Unclosed(start);
        value.append(text_.substr(at_, close - at_));
        at_ = close + 1;
      } else if (c == '"') {
        if (!ReadDoubleQuoted(value)) return Unclosed(start);
      } else {
        value += c;
      }
      if (value.size() > OsRelease::kMaxValueBytes) return Unclosed(start);
    }
    return true;
  }

  // Reads up to the closing '"', the opening one already taken.
  bool ReadDoubleQuoted(std::string& value) {
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c == '\\' && at_ < text_.size()) {
        const char next = text_[at_];
        if (next == '\n') {
          ++at_;
          continue;
        }
        if (next == '$' || next == '`' || next == '"' || next == '\\') {
          value += next;
          ++at_;
          continue;
        }
      }
      value += c;
      if (value.size() > OsRelease::kMaxValueBytes) return false;
    }
    return false;
  }

  // Gives up on a value: the next line after the one it started on is read next.
  bool Unclosed(std::size_t start) {
    at_ = start;
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

OsRelease OsRelease::Parse(std::string_view text) {
  OsRelease release;
  Parser(text).Run([&release](const std::string& key, const std::string& value) {
    release.values_.insert_or_assign(key, value);
  });
  return release;
}

std::optional<std::string> OsRelease::Get(const std::string& key) const {
  const auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

}  // namespace Pellux
