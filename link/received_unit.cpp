#include "link/received_unit.h"

#include <tuple>

namespace Pellux {

std::string_view UnitKindName(UnitKind kind) {
  switch (kind) {
    case UnitKind::Control:
      return "control";
    case UnitKind::Status:
      return "status";
    case UnitKind::DataRequest:
      return "data request";
    case UnitKind::Data:
      return "data";
    case UnitKind::Unknown:
      return "unknown";
    case UnitKind::Malformed:
      return "malformed";
  }
  return "invalid kind";
}

ReceivedUnit ClassifyUnit(std::span<const std::uint8_t> unit) {
  ReceivedUnit result;
  if (unit.size() != std::tuple_size_v<TransportHeader>) {
    return result;
  }
  const std::uint8_t transport = unit[0];
  result.sequence = static_cast<std::uint8_t>(transport & 0x07);
  for (std::size_t i = 0; i < result.header.size(); ++i) {
    result.header[i] = unit[i + 1];
  }
  if ((transport & 0x40) != 0) {
    result.kind = UnitKind::Control;
    return result;
  }
  switch (result.header[0] >> 5) {
    case LogicalPacket::kStatusType:
      result.kind = UnitKind::Status;
      break;
    case LogicalPacket::kDataRequestType:
      result.kind = UnitKind::DataRequest;
      break;
    case LogicalPacket::kDataType:
      result.kind = UnitKind::Data;
      break;
    default:
      result.kind = UnitKind::Unknown;
      break;
  }
  return result;
}

}  // namespace Pellux
