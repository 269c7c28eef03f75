#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace Pellux {

// How the virtual tracker answers one kind of command, as a test scripts it.
struct TrackerAnswer {
  enum class Kind {
    Status,    // a terminating status packet at once
    Download,  // "data available", then the data on the host's data requests
    Upload,    // data requests of its own for the command's payload, then a terminating status
  };

  // Sub-code the tracker uses for a command it has no answer for.
  static constexpr std::uint8_t kUnknownCommand = 0x0F;
  // Sub-code of the status that ends an upload whose data did not add up.
  static constexpr std::uint8_t kBadData = 0x0E;
  static constexpr std::uint8_t kSuccess = 1;

  Kind kind = Kind::Status;
  // Sub-code and bytes 1-4 of the terminating status (Status and Upload).
  std::uint8_t statusCode = kSuccess;
  std::uint32_t statusData = 0;
  // What the host fetches (Download).
  std::vector<std::uint8_t> data;
  // Size asked for in each data request (Upload).
  std::uint16_t requestSize = 512;
  // The tracker stops asking once this many bytes came; without it, it asks until the host
  // sends an empty data packet (Upload).
  std::optional<std::size_t> uploadSize;

  static TrackerAnswer Status(std::uint8_t code, std::uint32_t statusData = 0) {
    TrackerAnswer answer;
    answer.statusCode = code;
    answer.statusData = statusData;
    return answer;
  }
  static TrackerAnswer Download(std::vector<std::uint8_t> bytes) {
    TrackerAnswer answer;
    answer.kind = Kind::Download;
    answer.data = std::move(bytes);
    return answer;
  }
  static TrackerAnswer Upload(std::uint16_t requestSize,
                              std::optional<std::size_t> uploadSize = std::nullopt,
                              std::uint8_t code = kSuccess) {
    TrackerAnswer answer;
    answer.kind = Kind::Upload;
    answer.requestSize = requestSize;
    answer.uploadSize = uploadSize;
    answer.statusCode = code;
    return answer;
  }
};

}  // namespace Pellux
