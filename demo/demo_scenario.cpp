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
  scenario.answers.emplace_back(std::vector<std::uint8_t>{0x22, 0x01},
                                TrackerAnswer::Download(Bytes(2048, 11)));
  scenario.answers.emplace_back(std::vector<std::uint8_t>{0x22, 0x02},
                                TrackerAnswer::Upload(512, 1000));
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
