#pragma once

#include <cstdint>

#include "device/ant_message.h"
#include "device/dsi_serial.h"

namespace Pellux {

// Turns a serial transport's byte stream into whole messages and back. The transport's receive
// thread feeds it through DSISerialCallback; a pump thread takes the messages out.
class DSIFramer : public DSISerialCallback {
 public:
  // WaitForMessage and GetMessage return these instead of a data length.
  static constexpr std::uint16_t kFramerError = 0xFFFF;  // an error was posted, or a bad record
  static constexpr std::uint16_t kTimedOut = 0xFFFE;     // nothing arrived in time

  // Sends `message` with `length` data bytes; true when the transport took every byte.
  // Any thread.
  virtual bool WriteMessage(const AntMessage& message, std::uint8_t length) = 0;
  // Waits up to `milliseconds` (0: does not wait) until a message is queued or an error is
  // posted. Returns the head message's data length, kFramerError or kTimedOut. Pump thread.
  virtual std::uint16_t WaitForMessage(std::uint32_t milliseconds) = 0;
  // Takes the head message out into `out` and returns its data length (at most `maxLength`
  // when that is not 0), or takes a posted error out and returns kFramerError, or returns
  // kTimedOut when nothing is queued. Never waits. Pump thread.
  virtual std::uint16_t GetMessage(AntMessage& out, std::uint8_t maxLength) = 0;
};

}  // namespace Pellux
