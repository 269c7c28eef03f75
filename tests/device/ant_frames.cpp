#include "tests/device/ant_frames.h"

namespace Pellux {

Bytes Frame(std::uint8_t id, const Bytes& data) {
  Bytes frame{kAntSync, static_cast<std::uint8_t>(data.size()), id};
  frame.insert(frame.end(), data.begin(), data.end());
  std::uint8_t checksum = 0;
  for (const std::uint8_t byte : frame) checksum ^= byte;
  frame.push_back(checksum);
  return frame;
}

Bytes BadFrame(std::uint8_t id, const Bytes& data) {
  Bytes frame = Frame(id, data);
  frame.back() ^= 0x01;
  return frame;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

AntMessage Message(std::uint8_t id, const Bytes& data) {
  AntMessage message;
  message.id = id;
  for (std::size_t i = 0; i < data.size() && i < message.data.size(); ++i) {
    message.data[i] = data[i];
  }
  return message;
}

std::string Hex(std::uint8_t byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string Describe(std::uint16_t result, const AntMessage& out) {
  if (result == DSIFramer::kTimedOut) return "timed out";
  if (result == DSIFramer::kFramerError) {
    std::string description = "error " + std::to_string(out.id);
    if (out.id == 2) description += " code " + Hex(out.data[0]);
    return description;
  }
  if (result > out.data.size()) return "impossible length " + std::to_string(result);
  std::string description = Hex(out.id);
  for (std::uint16_t i = 0; i < result; ++i) description += " " + Hex(out.data[i]);
  return description;
}

std::vector<std::string> Drain(DSIFramer& framer, std::uint8_t maxLength) {
  std::vector<std::string> outcomes;
  for (;;) {
    AntMessage out;
    const std::uint16_t result = framer.GetMessage(out, maxLength);
    if (result == DSIFramer::kTimedOut) return outcomes;
    outcomes.push_back(Describe(result, out));
  }
}

}  // namespace Pellux
