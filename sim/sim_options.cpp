#include "sim/sim_options.h"

#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

namespace Pellux {
namespace {

// A whole decimal number, or one written with 0x in hex, up to `most`.
std::optional<std::uint64_t> Number(const std::string& text, std::uint64_t most) {
  std::string_view digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (error != std::errc() || end != digits.data() + digits.size() || value > most) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  boost::algorithm::split(fields, text, [](char c) { return c == ':'; });
  return fields;
}

std::optional<std::vector<std::uint8_t>> HexBytes(const std::string& text) {
  if (text.empty() || text.size() % 2 != 0 || text.size() > 16) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    std::uint8_t byte = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, byte, 16);
    if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
    bytes.push_back(byte);
  }
  return bytes;
}

std::optional<TrackerAnswer> ParseAnswer(const std::string& text) {
  const std::vector<std::string> fields = Fields(text);
  const std::size_t count = fields.size();
  if (fields[0] == "status" && (count == 2 || count == 3)) {
    const auto code = Number(fields[1], 0xFF);
    const auto data = count == 3 ? Number(fields[2], 0xFFFFFFFF) : std::optional<std::uint64_t>(0);
    if (!code || !data) return std::nullopt;
    return TrackerAnswer::Status(static_cast<std::uint8_t>(*code),
                                 static_cast<std::uint32_t>(*data));
  }
  if (fields[0] == "download" && (count == 2 || count == 3)) {
    // A download's size travels in 32 bits; a simulator need not hand out more than 16 MiB.
    const auto size = Number(fields[1], 16u << 20);
    const auto seed = count == 3 ? Number(fields[2], 0xFF) : std::optional<std::uint64_t>(0);
    if (!size || !seed) return std::nullopt;
    return TrackerAnswer::Download(
        SimDownloadBytes(static_cast<std::size_t>(*size), static_cast<std::uint8_t>(*seed)));
  }
  if (fields[0] == "upload" && count >= 2 && count <= 4) {
    const auto request = Number(fields[1], 0xFFFF);
    if (!request || *request == 0) return std::nullopt;
    std::optional<std::size_t> total;
    if (count >= 3) {
      const auto parsed = Number(fields[2], 16u << 20);
      if (!parsed) return std::nullopt;
      total = static_cast<std::size_t>(*parsed);
    }
    const auto code = count == 4 ? Number(fields[3], 0xFF)
                                 : std::optional<std::uint64_t>(TrackerAnswer::kSuccess);
    if (!code) return std::nullopt;
    return TrackerAnswer::Upload(static_cast<std::uint16_t>(*request), total,
                                 static_cast<std::uint8_t>(*code));
  }
  return std::nullopt;
}

std::optional<Direction> ParseDirection(const std::string& text) {
  if (text == "to-tracker") return Direction::ToTracker;
  if (text == "to-host") return Direction::ToHost;
  return std::nullopt;
}

std::optional<SimFault> ParseFault(const std::string& text) {
  const std::vector<std::string> fields = Fields(text);
  const std::size_t count = fields.size();
  const std::string& name = fields[0];
  SimFault fault;
  if (count == 1) {
    if (name == "silent")
      fault.kind = SimFault::Kind::Silent;
    else if (name == "out-of-range")
      fault.kind = SimFault::Kind::OutOfRange;
    else if (name == "search-timeout")
      fault.kind = SimFault::Kind::SearchTimeout;
    else
      return std::nullopt;
    return fault;
  }
  if (name == "refuse" && (count == 3 || count == 4)) {
    const auto id = Number(fields[1], 0xFF);
    const auto code = Number(fields[2], 0xFF);
    const auto times = count == 4 ? Number(fields[3], 1000000) : std::optional<std::uint64_t>(1);
    if (!id || !code || !times) return std::nullopt;
    fault.kind = SimFault::Kind::Refuse;
    fault.messageId = static_cast<std::uint8_t>(*id);
    fault.code = static_cast<std::uint8_t>(*code);
    fault.count = static_cast<int>(*times);
    return fault;
  }
  if ((name == "lose" || name == "duplicate" || name == "corrupt") && count == 3) {
    const auto direction = ParseDirection(fields[1]);
    if (!direction) return std::nullopt;
    fault.direction = *direction;
    if (name == "corrupt") {
      fault.kind = SimFault::Kind::Corrupt;
      if (fields[2] == "checksum")
        fault.corruption = BurstCorruption::Checksum;
      else if (fields[2] == "size")
        fault.corruption = BurstCorruption::Size;
      else
        return std::nullopt;
      return fault;
    }
    const auto units = Number(fields[2], 1000000);
    if (!units) return std::nullopt;
    fault.kind = name == "lose" ? SimFault::Kind::Lose : SimFault::Kind::Duplicate;
    fault.count = static_cast<int>(*units);
    return fault;
  }
  if (name == "fail-transfers" && count == 2) {
    const auto transfers = Number(fields[1], 1000000);
    if (!transfers) return std::nullopt;
    fault.kind = SimFault::Kind::FailTransfers;
    fault.count = static_cast<int>(*transfers);
    return fault;
  }
  if (name == "beacon-host-id" && count == 2) {
    const auto id = Number(fields[1], 0xFFFFFFFF);
    if (!id) return std::nullopt;
    fault.kind = SimFault::Kind::BeaconHostId;
    fault.value = static_cast<std::uint32_t>(*id);
    return fault;
  }
  return std::nullopt;
}

// Turns the lines of an options file into arguments.
bool FileArguments(const std::string& path, std::vector<std::string>& out, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot read the options file '" + path + "'";
    return false;
  }
  std::string line;
  while (std::getline(file, line)) {
    boost::algorithm::trim(line);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.find_first_of(" \t");
    std::string name = line.substr(0, space);
    if (name.rfind("--", 0) != 0) name.insert(0, "--");
    if (name == "--file") {
      error = "an options file may not name another file ('";
      error += path;
      error += "')";
      return false;
    }
    out.push_back(name);
    if (space != std::string::npos) {
      std::string value = line.substr(space);
      boost::algorithm::trim(value);
      out.push_back(value);
    }
  }
  return true;
}

}  // namespace

void SimFault::ApplyTo(FaultPlan& plan) const {
  switch (kind) {
    case Kind::Refuse:
      plan.RefuseCommand(messageId, code, count);
      break;
    case Kind::Lose:
      plan.LoseUnits(direction, count);
      break;
    case Kind::Duplicate:
      plan.DuplicateUnits(direction, count);
      break;
    case Kind::Corrupt:
      plan.CorruptNextBurst(direction, corruption);
      break;
    case Kind::FailTransfers:
      plan.FailTransfers(count);
      break;
    case Kind::Silent:
      plan.SetTrackerSilent(true);
      break;
    case Kind::OutOfRange:
      plan.SetTrackerInRange(false);
      break;
    case Kind::SearchTimeout:
      plan.ForceSearchTimeout();
      break;
    case Kind::BeaconHostId:
      plan.SetBeaconHostId(value);
      break;
  }
}

std::vector<std::uint8_t> SimDownloadBytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

SimArguments ParseSimArguments(const std::vector<std::string>& given) {
  SimArguments parsed;
  // The arguments with every file's lines in its place.
  std::vector<std::string> arguments;
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i] == "--file") {
      if (i + 1 >= given.size()) {
        parsed.error = "--file needs a path";
        return parsed;
      }
      if (!FileArguments(given[++i], arguments, parsed.error)) return parsed;
    } else {
      arguments.push_back(given[i]);
    }
  }

  SimOptions& options = parsed.options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--help" || name == "-h") {
      parsed.wantsHelp = true;
      continue;
    }
    if (i + 1 >= arguments.size()) {
      parsed.error =
          name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument '" + name + "'";
      return parsed;
    }
    const std::string& value = arguments[++i];
    const auto bad = [&parsed, &name, &value] {
      parsed.error = "bad value for ";
      parsed.error += name;
      parsed.error += ": '";
      parsed.error += value;
      parsed.error += "'";
      return parsed;
    };
    if (name == "--answer") {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos) return bad();
      const std::string prefix = value.substr(0, equals);
      const auto answer = ParseAnswer(value.substr(equals + 1));
      if (!answer) return bad();
      if (prefix == "default") {
        options.defaultAnswer = *answer;
        continue;
      }
      const auto bytes = HexBytes(prefix);
      if (!bytes) return bad();
      options.answers.emplace_back(*bytes, *answer);
    } else if (name == "--fault") {
      const auto fault = ParseFault(value);
      if (!fault) return bad();
      options.faults.push_back(*fault);
    } else if (name == "--unplug-after") {
      const auto ms = Number(value, 24ull * 3600 * 1000);
      if (!ms) return bad();
      options.unplugAfter = std::chrono::milliseconds(*ms);
    } else if (name == "--serial") {
      const auto serial = Number(value, 0xFFFFFFFF);
      if (!serial) return bad();
      options.station.serialNumber = static_cast<std::uint32_t>(*serial);
    } else if (name == "--tracker-serial") {
      const auto serial = Number(value, 0xFFFFFFFF);
      if (!serial) return bad();
      options.station.tracker.serialNumber = static_cast<std::uint32_t>(*serial);
    } else if (name == "--stream") {
      // Up to 100 MB/s: far past any serial line.
      const auto rate = Number(value, 100000000);
      if (!rate || *rate == 0) return bad();
      options.streamRate = static_cast<std::uint32_t>(*rate);
    } else if (name == "--duration") {
      const auto ms = Number(value, 24ull * 3600 * 1000);
      if (!ms) return bad();
      options.streamFor = std::chrono::milliseconds(*ms);
    } else {
      parsed.error = "unknown argument '" + name + "'";
      return parsed;
    }
  }
  return parsed;
}

}  // namespace Pellux
