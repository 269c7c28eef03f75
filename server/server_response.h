#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace Pellux {

class CommandPacket;

// One remote operation of a server instruction, shared between the instruction and the
// operation being run.
struct Command {
  bool encrypted = false;
  std::int32_t retries = 3;
  std::shared_ptr<CommandPacket> packet;  // may be empty
  std::vector<std::uint8_t> payload;      // data the tracker may ask for
  std::vector<std::uint8_t> response;     // bytes of the tracker's answer
};

// One parsed server document; a default-built one is also the instruction a session starts with.
// In width, height, pingInterval and sleepPeriod, -1 means "not given".
struct ServerResponse {
  std::string origin = "server";
  std::string method = "POST";
  std::string protocol = "http";
  std::string host;
  std::int32_t port = 0;
  std::string path;
  bool secure = false;
  std::string responseText;
  std::string version;
  std::string message;
  std::string dialogContent;
  bool containsForm = false;
  std::int32_t minDisplayTime = 3000;
  std::int32_t width = -1;
  std::int32_t height = -1;
  std::string deviceType;
  std::int32_t pingInterval = -1;
  std::string action;
  std::int32_t sleepPeriod = -1;
  std::string beaconType;
  std::int32_t acquireTimeOut = 600;
  std::string errorHandler = "executetillerror";
  std::string responder = "respondnoerror";
  std::list<std::shared_ptr<Command>> remoteOps;
};

}  // namespace Pellux
