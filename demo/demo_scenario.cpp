#include "demo/demo_scenario.h"

#include <boost/algorithm/string/replace.hpp>

#include "link/packet.h"
#include "server/base64.h"

namespace Pellux {
namespace {

const PacketHeader kReadActivity{0x22, 0x01, 0, 0, 0, 0, 0};
const PacketHeader kWriteSettings{0x22, 0x02, 0, 0, 0, 0, 0};

std::vector<std::uint8_t> Bytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

}  // namespace

DemoScenario DemoScenario::Default() {
  DemoScenario scenario;
  const std::string response = "<response host=\"{host}\" port=\"{port}\" path=\"/demo/";
  scenario.documents.push_back(
      "<p>" + response + "results\"/>" +
      "<clientDisplay><message>Reading today's activity...</message></clientDisplay>"
      "<device action=\"command\"><remoteOps responder=\"respondAlways\">"
      "<remoteOp><opCode>" +
      Base64Encode(kReadActivity) +
      "</opCode></remoteOp>"
      "<remoteOp><opCode>" +
      Base64Encode(kWriteSettings) + "</opCode><payloadData>" + Base64Encode(Bytes(1000, 3)) +
      "</payloadData></remoteOp></remoteOps></device></p>");
  scenario.documents.push_back(
      "<p>" + response + "done\"/>" +
      "<clientDisplay><message>Upload complete. The tracker sleeps for 15 seconds.</message>"
      "</clientDisplay><device action=\"close\" sleepPeriod=\"15\"/></p>");
  scenario.documents.push_back("<p><device action=\"close\"/></p>");
  // pellux-sim's downloads are the same bytes as Bytes(size, seed).
  constexpr std::size_t kDownload = 2048;
  constexpr std::uint8_t kSeed = 11;
  constexpr std::size_t kUploadRequest = 512;
  constexpr std::size_t kUploadTotal = 1000;
  scenario.answers.emplace_back(std::vector<std::uint8_t>{0x22, 0x01},
                                TrackerAnswer::Download(Bytes(kDownload, kSeed)));
  scenario.answers.emplace_back(std::vector<std::uint8_t>{0x22, 0x02},
                                TrackerAnswer::Upload(kUploadRequest, kUploadTotal));
  scenario.simArguments = {
      "--answer", "2201=download:" + std::to_string(kDownload) + ":" + std::to_string(kSeed),
      "--answer",
      "2202=upload:" + std::to_string(kUploadRequest) + ":" + std::to_string(kUploadTotal)};
  return scenario;
}

std::vector<std::string> DemoScenario::DocumentsFor(const std::string& host,
                                                    std::uint16_t port) const {
  std::vector<std::string> filled;
  for (std::string document : documents) {
    boost::algorithm::replace_all(document, "{host}", host);
    boost::algorithm::replace_all(document, "{port}", std::to_string(port));
    filled.push_back(document);
  }
  return filled;
}

}  // namespace Pellux
