#pragma once

#include <cstdint>
#include <vector>

namespace Pellux {

// One ANT message as it crosses the serial line in either direction: an id and its data bytes.
// The station records what the host wrote in this form and answers in it.
struct AntFrame {
  std::uint8_t id = 0;
  std::vector<std::uint8_t> data;

  // The bytes on the wire: sync, length, id, data, then the XOR of all of them. No trailing
  // filler: a module sends none.
  [[nodiscard]] std::vector<std::uint8_t> Encode() const;

  bool operator==(const AntFrame&) const = default;
};

}  // namespace Pellux
