#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace Pellux {

// The measurement stream of pellux-sim --stream: what a module sends during an upload, per 20
// frames 14 burst frames of the tracker's data, 4 beacons and 2 channel events, with the frame's
// number in every data frame so that a reader can tell a lost or reordered frame.
namespace FrameStream {

// The wire bytes of frame `index`.
std::vector<std::uint8_t> Frame(std::uint32_t index);
// True when a decoded message (its id and data bytes) is frame `index`.
bool Matches(std::uint32_t index, std::uint8_t id, std::span<const std::uint8_t> data);

}  // namespace FrameStream
}  // namespace Pellux
