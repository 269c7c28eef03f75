#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace Pellux {

// A text kept in a buffer of `Size` bytes, as the service manager's records keep them: a copy
// in truncates silently to Size - 1 characters and is always terminated.
template <std::size_t Size>
class FixedText {
  static_assert(Size > 0);

 public:
  FixedText() { bytes_[0] = '\0'; }
  explicit FixedText(std::string_view text) { Assign(text); }

  void Assign(std::string_view text) {
    const std::size_t length = text.size() < Size - 1 ? text.size() : Size - 1;
    std::memcpy(bytes_.data(), text.data(), length);
    bytes_[length] = '\0';
  }
  [[nodiscard]] const char* c_str() const { return bytes_.data(); }
  [[nodiscard]] char* data() { return bytes_.data(); }
  [[nodiscard]] std::string_view view() const { return bytes_.data(); }

 private:
  std::array<char, Size> bytes_{};
};

}  // namespace Pellux
