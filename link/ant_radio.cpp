// Opening and closing the base station, and the pump thread that hands the module's messages
// to the engine.

#include "link/ant_radio.h"

#include <new>
#include <system_error>
#include <utility>

namespace Pellux {

AntRadio::AntRadio(RadioEvents& engine, LogSink& sink, BaseStationDevices& stations,
                   Clock& radioClock, LinkIdentifiers& linkIdentifiers, Timing waits)
    : logSink(sink),
      devices(stations),
      clock(radioClock),
      identifiers(linkIdentifiers),
      timing(waits),
      events(engine),
      pingTimer(engine.CreateTimer()),
      beaconSearchTimer(engine.CreateTimer()),
      retryTable([this](const std::string& line) { Log(LogLevel::kDetail, "%s", line); }) {}

AntRadio::AntRadio(RadioEvents& engine, LogSink& sink, BaseStationDevices& stations,
                   Clock& radioClock)
    : AntRadio(engine, sink, stations, radioClock, LinkIdentifiers::ForProcess(), Timing{}) {}

AntRadio::~AntRadio() {
  // The engine releases the base station before it lets the radio go; this covers an engine
  // that failed to.
  if (ant) CloseCommunication();
  JoinRetiredPumps();
}

void AntRadio::CancelIdleTimer() {
  pingTimer->Cancel();
}

void AntRadio::SetSearchDeviceNumber(std::uint16_t number) {
  deviceNumber = number;
}

void AntRadio::SetRetryBudget(std::int32_t retries) {
  retryBudget = retries;
}

std::uint8_t AntRadio::FindBaseStation(std::uint16_t vendorId, std::uint16_t productId,
                                       BaseStationCandidate& found) {
  const std::vector<BaseStationCandidate> candidates = devices.Candidates();
  if (candidates.empty() && leftoverTransport) {
    // The station vanished from the list after an attempt to open it: power-cycling the
    // family usually brings it back for the next attempt.
    devices.RestartDevices(kRestartVendorId, kRestartProductId);
    return kNoDevice;
  }
  for (std::size_t index = 0; index < candidates.size() && index < kNoDevice; ++index) {
    const BaseStationCandidate& candidate = candidates[index];
    if (candidate.vendorId == vendorId && candidate.productId == productId) {
      found = candidate;
      // Serial texts are read through a 64-byte buffer.
      found.serial = candidate.serial.substr(0, 63);
      return static_cast<std::uint8_t>(index);
    }
  }
  return kNoDevice;
}

bool AntRadio::OpenCommunication() {
  if (ant) {
    StartChannel();
    return true;
  }

  const RadioParameters settings = events.Parameters();
  BaseStationCandidate found;
  const std::uint8_t device = FindBaseStation(settings.vendorId, settings.productId, found);
  const std::string& serial = found.serial;
  if (OpenDevice(baudRate, device)) {
    events.OnBaseStationOpened(serial, found.device);
    Log(LogLevel::kDetail, "Initialized communication [VID: 0x%04x, PID: 0x%04x, SERIAL: %s].",
        settings.vendorId, settings.productId, serial);
    StartChannel();
    return true;
  }
  events.OnBaseStationClosed();
  Log(LogLevel::kError,
      "Failed to initialize communication [VID: 0x%04x, PID: 0x%04x%s]. Is the base station "
      "plugged in?",
      settings.vendorId, settings.productId,
      serial.empty() ? std::string() : ", SERIAL: " + serial);
  return false;
}

bool AntRadio::OpenDevice(std::uint32_t baud, std::uint8_t device) {
  Log(LogLevel::kDetail, "Initializing [baud: %d, device: %d]... ", baud, static_cast<int>(device));
  JoinRetiredPumps();
  leftoverTransport.reset();
  auto connection = std::make_shared<Connection>();
  // A failed opening keeps its transport object until the next attempt: finding the list
  // empty while one is left over is what tells FindBaseStation to power-cycle the stations.
  const auto fail = [&](const char* text) {
    Log(LogLevel::kError, "%s", text);
    if (connection->transport) connection->transport->SetCallback(nullptr);
    leftoverTransport = connection->transport;
    return false;
  };
  try {
    connection->transport = devices.CreateTransport();
  } catch (const std::bad_alloc&) {
    connection->transport = nullptr;
  }
  if (!connection->transport) return fail("new DSISerialSI() failed: out of memory");
  if (device == kNoDevice) return fail("Failed to find device");
  if (!connection->transport->Init(baud, device))
    return fail("Failed to initialize device object.");
  try {
    connection->framer =
        std::make_unique<DSIFramerANT>(connection->transport.get(), timing.responseWait);
  } catch (const std::bad_alloc&) {
    return fail("new DSIFramerANT() failed: out of memory");
  }
  if (!connection->framer->Init()) return fail("comm_->Init() failed");
  connection->transport->SetCallback(connection->framer.get());
  if (!connection->transport->Open()) return fail("Failed to connect to device at USB port");
  ant = connection;
  try {
    connection->thread = std::thread([this, connection] { Pump(connection); });
  } catch (const std::system_error&) {
    Log(LogLevel::kError, "DSIThread_CreateThread() failed");
    CloseCommunication();
    return false;
  }
  std::lock_guard pumpGuard(pumpLock);
  pumpConnection = connection;
  return true;
}

void AntRadio::CloseCommunication() {
  if (!ant) return;
  const std::shared_ptr<Connection> connection = std::move(ant);
  connection->open = false;
  connection->framer->Interrupt();
  if (connection->thread.joinable()) {
    Log(LogLevel::kDetail, "Killing ANT thread...");
    if (connection->thread.get_id() == std::this_thread::get_id()) {
      // Closing from inside one of the pump's own handlers: the pump cannot wait for itself.
      // It leaves its loop as soon as this handler returns, and is joined later.
      Log(LogLevel::kDetail, "Closing from the ANT thread: it exits once this message is handled.");
      retiredPumps.push_back(std::move(connection->thread));
    } else {
      std::unique_lock exitGuard(connection->exitLock);
      Log(LogLevel::kDetail, "Waiting for ANT thread to exit...");
      const bool exited = connection->exitCondition.wait_for(
          exitGuard, timing.pumpExitWait, [&connection] { return connection->exited; });
      exitGuard.unlock();
      if (exited) {
        Log(LogLevel::kDetail, "Exited ANT thread gracefully.");
        connection->thread.join();
      } else {
        // A thread cannot be killed safely. It holds its own share of the framer and has
        // nothing left to do but leave; it is joined later, before the radio goes, as it
        // still logs through the radio.
        Log(LogLevel::kError, "ANT thread did not exit gracefully after %dms. Terminating it...",
            static_cast<int>(timing.pumpExitWait.count()));
        retiredPumps.push_back(std::move(connection->thread));
      }
    }
  }
  {
    std::lock_guard pumpGuard(pumpLock);
    pumpConnection.reset();
  }
  Log(LogLevel::kDetail, "Killing message object...");
  Log(LogLevel::kDetail, "Killing serial object...");
  connection->transport->Close(false);
  Log(LogLevel::kDetail, "ANT closed.");
}

void AntRadio::ReleaseBaseStation() {
  CloseCommunication();
  JoinRetiredPumps();
}

void AntRadio::JoinRetiredPumps() {
  // A retired pump is past its last handler: it takes no lock any more before it ends. The
  // thread that is itself a retired pump (closing and reopening from its own handler) stays
  // for a later call.
  for (auto it = retiredPumps.begin(); it != retiredPumps.end();) {
    if (it->get_id() == std::this_thread::get_id()) {
      ++it;
      continue;
    }
    it->join();
    it = retiredPumps.erase(it);
  }
}

void AntRadio::Pump(const std::shared_ptr<Connection>& connection) {
  DSIFramerANT& framer = *connection->framer;
  // The engine's stop is read under its lock only: an entry that stops and restarts the engine
  // (the communication-error restart) must not look like a stop to the pump.
  bool stopped = false;
  const auto engineStopped = [&] { stopped = events.IsStopped(); };
  while (connection->open.load()) {
    {
      std::lock_guard idleGuard(connection->idleLock);
      connection->waiting = true;
    }
    const std::uint16_t ready = framer.WaitForMessage(timing.pumpWaitMilliseconds);
    {
      std::lock_guard idleGuard(connection->idleLock);
      connection->waiting = false;
    }
    if (ready == DSIFramer::kFramerError) {
      Log(LogLevel::kError, "ANT message pump error: WaitForMessage()");
      break;
    }
    if (ready == DSIFramer::kTimedOut) {
      if (!events.EnterWhile(connection->open, engineStopped) || stopped) break;
      continue;
    }

    AntMessage message;
    const std::uint16_t length = framer.GetMessage(message, 0);
    if (length == DSIFramer::kFramerError) {
      Log(LogLevel::kError, "ANT message pump error: GetMessage()");
      break;
    }
    if (length == DSIFramer::kTimedOut) {
      Log(LogLevel::kDetail, "DSI_FRAMER_TIMEDOUT after %dms",
          static_cast<int>(timing.pumpWaitMilliseconds));
      continue;
    }
    if (length == 0) continue;
    const bool handled = events.EnterWhile(connection->open, [&] {
      engineStopped();
      if (!stopped) ProcessAntMessage(message, static_cast<std::uint8_t>(length));
    });
    if (!handled || stopped) break;
  }
  Log(LogLevel::kDetail, "Exiting ANT thread gracefully...");
  {
    std::lock_guard exitGuard(connection->exitLock);
    connection->exited = true;
  }
  connection->exitCondition.notify_all();
}

bool AntRadio::IsPumpIdle() const {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard pumpGuard(pumpLock);
    connection = pumpConnection;
  }
  if (!connection) return true;
  {
    std::lock_guard exitGuard(connection->exitLock);
    if (connection->exited) return true;
  }
  std::lock_guard idleGuard(connection->idleLock);
  return connection->waiting && connection->framer->PendingForPump() == 0;
}

bool AntRadio::HasPumpThread() const {
  std::lock_guard pumpGuard(pumpLock);
  return pumpConnection != nullptr;
}

void AntRadio::ProcessAntMessage(const AntMessage& message, std::uint8_t length) {
  events.OnRadioActivity();
  const std::span<const std::uint8_t> data(message.data.data(), length);
  // Radio bytes are outside input: a message too short for its kind is dropped, never read
  // past its end.
  const auto requireLength = [&](std::size_t needed) {
    if (data.size() >= needed) return true;
    Log(LogLevel::kError, "Ignoring short ANT message 0x%02x (%d bytes)",
        static_cast<int>(message.id), static_cast<int>(length));
    return false;
  };
  switch (message.id) {
    case AntId::kChannelResponse:
      if (!requireLength(3)) return;
      if (data[1] == AntId::kEvent) {
        HandleChannelEvent(data[2], data);
      } else {
        OnChannelResponse(data[1], data[2]);
      }
      return;
    case AntId::kBroadcastData:
      if (requireLength(kDataEventSize))
        HandleChannelEvent(kBeaconEvent, data.first(kDataEventSize));
      return;
    case AntId::kAcknowledgedData:
      if (requireLength(kDataEventSize)) {
        HandleChannelEvent(kAcknowledgedEvent, data.first(kDataEventSize));
      }
      return;
    case AntId::kBurstData:
      if (requireLength(kDataEventSize))
        HandleChannelEvent(kBurstEvent, data.first(kDataEventSize));
      return;
    case AntId::kStartup:
      if (!data.empty() && (data[0] & kAntStartupCommandReset) != 0) {
        Log(LogLevel::kDetail, "RESET command complete");
      } else {
        Log(LogLevel::kDetail, "Got some MESG_STARTUP_MESG");
      }
      return;
    default:
      return;
  }
}

}  // namespace Pellux
