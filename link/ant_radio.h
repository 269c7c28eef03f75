#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/guarded_timer.h"
#include "base/log_format.h"
#include "base/log_level.h"
#include "base/log_sink.h"
#include "device/ant_message.h"
#include "device/dsi_framer_ant.h"
#include "link/base_station_devices.h"
#include "link/link_identifiers.h"
#include "link/packet.h"
#include "link/radio_events.h"
#include "link/radio_link.h"
#include "link/retry_table.h"

namespace Pellux {

// The engine's radio side: opens the base station (transport, framer, pump thread), configures
// and opens the ANT channel step by step, links the tracker over it and carries packets both
// ways.
//
// Threads and locks: all state is guarded by the engine's lock. The engine calls the RadioLink
// operations with it held; the pump thread enters through RadioEvents::EnterWhile, and the
// radio's own ping/idle and beacon search timers run on the engine's event loop under it.
// Configuration commands block their caller (the pump thread, or an engine thread for the first
// step) for up to the framer's response wait; the answers are matched on the transport's receive
// thread, which never takes the engine's lock.
class AntRadio final : public RadioLink {
 public:
  // Waits of the radio side. Tests shorten them; the service uses the defaults.
  struct Timing {
    // How long a configuration command waits for the module's answer.
    std::chrono::milliseconds responseWait = DSIFramerANT::kDefaultResponseWait;
    // How long closing the base station waits for the pump thread to leave.
    std::chrono::milliseconds pumpExitWait{3000};
    // How long the pump waits for one message before it looks around again.
    std::uint32_t pumpWaitMilliseconds = 1000;
  };

  static constexpr std::uint32_t kDefaultBaud = 50000;
  static constexpr std::uint8_t kNoDevice = 0xFF;
  static constexpr std::uint16_t kSearchAnyDevice = 0xFFFF;
  // The USB ids of the base station family that is power-cycled when the list comes back empty.
  static constexpr std::uint16_t kRestartVendorId = 0x0FCF;
  static constexpr std::uint16_t kRestartProductId = 0x1004;
  // Channel events made from data messages, beside the module's own event codes.
  static constexpr std::uint8_t kBeaconEvent = 0x9A;
  static constexpr std::uint8_t kAcknowledgedEvent = 0x9B;
  static constexpr std::uint8_t kBurstEvent = 0x9C;
  // The channel byte and the eight bytes of a data message.
  static constexpr std::size_t kDataEventSize = 9;
  // Received burst data beyond this is not kept: the largest data packet announces 65535
  // bytes, and a burst that runs on past it would only be trimmed.
  static constexpr std::size_t kMaxReceiveBuffer = 65535 + 8;

  // `engine` is the engine this radio reports to, `sink` where its lines go; they, and
  // everything else given, outlive the radio.
  AntRadio(RadioEvents& engine, LogSink& sink, BaseStationDevices& stations, Clock& radioClock,
           LinkIdentifiers& linkIdentifiers, Timing waits);
  AntRadio(RadioEvents& engine, LogSink& sink, BaseStationDevices& stations, Clock& radioClock);
  ~AntRadio() override;

  // --- RadioLink (engine lock held) ---
  void SetSearchDeviceNumber(std::uint16_t deviceNumber) override;
  void SetRetryBudget(std::int32_t retries) override;
  bool OpenCommunication() override;
  void CloseChannel() override;
  void DestroyChannel() override;
  void ResetChannel() override;
  void ReleaseBaseStation() override;
  void CancelIdleTimer() override;
  void QueuePacket(const Packet& packet, const std::string& failureMessage) override;
  [[nodiscard]] LinkState GetLinkState() const override { return linkState; }
  void SetLinkState(LinkState state) override { linkState = state; }
  [[nodiscard]] bool IsChannelOpen() const override { return !channelClosed; }
  [[nodiscard]] bool IsWaitingForPong() const override { return waitingForPong; }

  // --- Channel control (engine lock held) ---
  // The number of the first attached base station with these ids, and that candidate in
  // `found`, or kNoDevice.
  std::uint8_t FindBaseStation(std::uint16_t vendorId, std::uint16_t productId,
                               BaseStationCandidate& found);
  void StartChannel();
  void ResetSystem();
  void CloseCommunication();
  // One message from the module, as the pump hands it over.
  void ProcessAntMessage(const AntMessage& message, std::uint8_t length);
  void HandleChannelEvent(std::uint8_t code, std::span<const std::uint8_t> data);

  // --- Views (engine lock held, or a quiet radio) ---
  [[nodiscard]] bool IsAntOpen() const { return ant != nullptr; }
  [[nodiscard]] bool IsClosing() const { return closing; }
  [[nodiscard]] bool HasFatalError() const { return fatalError; }
  [[nodiscard]] std::uint16_t DeviceNumber() const { return deviceNumber; }
  [[nodiscard]] std::int32_t SearchSeconds() const { return searchSeconds; }
  [[nodiscard]] std::int32_t RetryBudget() const { return retryBudget; }
  [[nodiscard]] std::int32_t PendingAcknowledgements() const { return pendingAcks; }
  [[nodiscard]] std::size_t QueuedPackets() const { return outgoing.size(); }
  [[nodiscard]] const RetryTable& Retries() const { return retryTable; }

  // Any thread, no lock: true when no pump runs, or the pump waits for a message and none is
  // queued. Tests use it to let the radio settle.
  [[nodiscard]] bool IsPumpIdle() const;
  // Any thread: true while a pump thread exists.
  [[nodiscard]] bool HasPumpThread() const;

  // One configuration step: what its answer means.
  struct StepInfo {
    int number = 0;
    std::uint8_t messageId = 0;
    const char* successLine = "";
    const char* failureText = "";
    const char* failureKey = "";
    int retryKey = -1;  // -1: the step never consults the retry table
  };

 private:
  // What one opening of the base station made; the pump thread holds it too, so that it stays
  // whole for as long as the pump may touch it.
  struct Connection {
    std::shared_ptr<DSISerial> transport;
    std::unique_ptr<DSIFramerANT> framer;
    std::atomic<bool> open{true};
    std::mutex exitLock;
    std::condition_variable exitCondition;
    bool exited = false;
    std::mutex idleLock;
    bool waiting = false;
    std::thread thread;
  };

  static const StepInfo* FindStep(std::uint8_t messageId);

  template <typename... Args>
  void Log(int level, const char* format, const Args&... args) const {
    logSink.Log(RenderLine(FormatLine(format, args...)), level, kNoContext);
  }

  bool OpenDevice(std::uint32_t baud, std::uint8_t device);
  // Joins the pump threads that were let go while they could not be waited for.
  void JoinRetiredPumps();
  void Pump(const std::shared_ptr<Connection>& connection);
  [[nodiscard]] DSIFramerANT* Framer() const { return ant ? ant->framer.get() : nullptr; }

  // Configuration sequence.
  void RunStep(int number);
  void OnChannelResponse(std::uint8_t answeredId, std::uint8_t code);
  void OnStepAnswer(const StepInfo& step, bool success);
  void OnChannelOpened();
  void OnCloseAnswer(bool success);
  void OnChannelClosed();
  void OnCommunicationFault();

  // Link and data transfer.
  void OnBeacon(std::span<const std::uint8_t> data);
  void OnPong();
  void OnTransferCompleted();
  void OnTransferFailed();
  // One acknowledgement came back; with `releaseNext` the next queued packet may go out.
  void ReleaseAcknowledgement(bool releaseNext);
  void AfterUnlinkOrLink();
  void ReceiveData(std::uint8_t code, std::span<const std::uint8_t> data);
  void ReceiveBurstContinuation(std::uint8_t sequenceBits, std::span<const std::uint8_t> block,
                                bool last);
  void ReceiveUnit(std::uint8_t code, std::span<const std::uint8_t> data);
  void OnDataRequest(const DataRequestPacket& request);
  void OnReceptionFailed();
  void OnSearchTimeout();
  void OnBeaconSearchExpired();
  void OnPingTimer();
  void ArmPingTimer();
  void SendNext();
  bool SendAcknowledged(const std::vector<std::uint8_t>& bytes);
  bool SendBurst(const std::vector<std::uint8_t>& bytes);
  void Report(const std::string& status, bool error, bool disconnect,
              std::span<const std::uint8_t> data = {});

  LogSink& logSink;
  BaseStationDevices& devices;
  Clock& clock;
  LinkIdentifiers& identifiers;
  const Timing timing;
  RadioEvents& events;
  // On the engine's event loop; their handlers run with the engine's lock held.
  std::unique_ptr<GuardedTimer> pingTimer;
  std::unique_ptr<GuardedTimer> beaconSearchTimer;

  // Channel.
  std::uint8_t channelNumber = 0;
  std::uint8_t channelType = 0;
  std::uint8_t networkNumber = 0;
  const std::array<std::uint8_t, 8> networkKey{};
  std::uint16_t channelPeriod = 0x1000;
  std::int32_t searchSeconds = 0;
  std::uint8_t transmitPower = 3;
  std::uint16_t deviceNumber = kSearchAnyDevice;
  std::uint8_t deviceType = 1;
  std::uint8_t transmissionType = 1;
  std::uint32_t baudRate = kDefaultBaud;
  bool channelClosed = true;
  bool closing = false;
  bool fatalError = false;
  std::int32_t retryBudget = 32;
  RetryTable retryTable;
  std::shared_ptr<Connection> ant;
  // The transport of a failed opening, kept until the next attempt.
  std::shared_ptr<DSISerial> leftoverTransport;
  mutable std::mutex pumpLock;  // guards pumpConnection for the lock-free views
  std::shared_ptr<Connection> pumpConnection;
  // Pump threads of closed connections that had not ended when their connection closed.
  std::vector<std::thread> retiredPumps;

  // Link.
  LinkState linkState = LinkState::Searching;
  bool waitingForPong = false;
  std::int32_t transmitSequence = -1;
  std::int32_t lastReceivedSequence = -1;
  std::int32_t lastBurstSequence = -1;
  std::int32_t drqCounter = -1;
  std::vector<std::uint8_t> transmitBuffer;
  struct Outgoing {
    std::vector<std::uint8_t> bytes;
    std::string failureMessage;
  };
  std::deque<Outgoing> outgoing;
  std::int32_t pendingAcks = 0;
  std::vector<std::uint8_t> receiveBuffer;
  std::int32_t expectedSize = 0;
  std::int32_t expectedChecksum = 0;
};

}  // namespace Pellux
