#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "device/dsi_serial.h"
#include "sim/ant_frame.h"

namespace Pellux {

// The smallest host that can talk to the station: reassembles the frames it receives with a
// frame reader of its own (so that the station's encoder is checked independently) and keeps
// them, with every transport error, for the test thread.
class TestHost final : public DSISerialCallback {
 public:
  void ProcessByte(std::uint8_t byte) override;
  void Error(std::uint8_t code) override;

  // The frames received since the last call.
  std::vector<AntFrame> Take();
  [[nodiscard]] std::vector<std::uint8_t> Errors() const;
  // Frames whose checksum did not add up.
  [[nodiscard]] std::size_t BadFrames() const;
  // True when every callback so far ran on one thread other than `notThis`.
  [[nodiscard]] bool CalledOnlyOnOneThreadOtherThan(std::thread::id notThis) const;

 private:
  void NoteThread();

  mutable std::mutex mutex_;
  std::vector<std::uint8_t> partial_;
  std::vector<AntFrame> frames_;
  std::vector<std::uint8_t> errors_;
  std::size_t badFrames_ = 0;
  std::vector<std::thread::id> threads_;
};

}  // namespace Pellux
