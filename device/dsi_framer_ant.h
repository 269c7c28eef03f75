#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>

#include "device/ant_message.h"
#include "device/dsi_framer.h"
#include "device/dsi_serial.h"

namespace Pellux {

// The ANT serial message framing over a DSISerial: frames outgoing messages, parses the received
// byte stream into a queue for the pump thread, posts framing errors, and lets a caller send a
// configuration command and wait for the module's answer to it.
//
// Threads: the transport's receive thread calls ProcessByte and Error (and matches waiting
// commands); the pump thread calls WaitForMessage and GetMessage; any thread may call
// WriteMessage, SendCommand and CloseChannelAndWait.
//
// Locks: the queue lock guards the receive state, the ring and the error state; the list lock
// guards the list of waiting commands. The receive path holds the queue lock and takes the list
// lock inside it; every other path takes only one of the two, so they cannot deadlock.
//
// Lifetime: close the transport (its Close guarantees that no callback runs any more) and let
// every caller of WaitForMessage, SendCommand and CloseChannelAndWait return before destroying
// the framer.
class DSIFramerANT final : public DSIFramer {
 public:
  // How long SendCommand waits for the module's response, and CloseChannelAndWait for the
  // channel-closed event after it.
  static constexpr std::chrono::milliseconds kDefaultResponseWait{999};

  // Error kinds that GetMessage writes into the id position when it returns kFramerError.
  static constexpr std::uint8_t kQueueOverflow = 1;     // a frame was lost: the ring was full
  static constexpr std::uint8_t kErrorReported = 2;     // Error was called; data[0] holds its code
  static constexpr std::uint8_t kOversizedMessage = 3;  // the head message had over 20 data bytes

  // Code this framer passes to Error for a frame whose checksum does not match.
  static constexpr std::uint8_t kBadChecksum = 4;

  // The ring holds 65536 records; one always stays free to tell full from empty.
  static constexpr std::size_t kRingSize = 65536;
  static constexpr std::size_t kQueueCapacity = kRingSize - 1;

  // `transport` is not owned and may be null (Init then refuses the framer). The owner points
  // the transport's callback at this framer before opening it.
  explicit DSIFramerANT(DSISerial* transport,
                        std::chrono::milliseconds responseWait = kDefaultResponseWait);
  ~DSIFramerANT() override;

  // False when the framer could not get its receive ring; such a framer ignores received bytes
  // and its WaitForMessage and GetMessage report kFramerError.
  bool IsInitialized() const { return initialized_; }
  // Forgets any partly received frame, every queued message and any posted error, then says
  // whether the framer can be used: initialized and with a transport. Any thread.
  bool Init();

  // DSISerialCallback: the transport's receive thread.
  void ProcessByte(std::uint8_t byte) override;
  void Error(std::uint8_t code) override;

  // DSIFramer.
  bool WriteMessage(const AntMessage& message, std::uint8_t length) override;
  std::uint16_t WaitForMessage(std::uint32_t milliseconds) override;
  std::uint16_t GetMessage(AntMessage& out, std::uint8_t maxLength) override;

  // Makes every wait in WaitForMessage, now and later, return at once: the pump is being told
  // to leave. Any thread.
  void Interrupt();
  // Messages and posted errors waiting for the pump to take them. Any thread.
  [[nodiscard]] std::size_t PendingForPump();

  // Sends one configuration command and waits up to the response wait for the module's channel
  // response to it (message 0x40 starting with the command's first data byte and its id). True
  // only when that response came with code 0. The answer is queued for the pump as well. Any
  // thread but the transport's receive thread.
  // With `written`, also tells whether the command reached the transport at all.
  bool SendCommand(const AntMessage& message, std::uint8_t length, bool* written = nullptr);
  // Closes `channel` through SendCommand and then waits up to the response wait for the
  // channel-closed event of that channel. True only when the event came. With `written`, also
  // tells whether the close command reached the transport: a close that was written may still
  // be answered later, one that was not never will.
  bool CloseChannelAndWait(std::uint8_t channel, bool* written = nullptr);

 private:
  // One received message in the ring: its data length as received (up to 29) and at most 20
  // of its data bytes.
  struct RxMessage {
    std::uint8_t length = 0;
    std::uint8_t id = 0;
    std::array<std::uint8_t, kAntMaxDataSize> data{};
  };

  // A command waiting for its answer. Lives on the waiting thread's side; linked into the list
  // while registered.
  struct ResponseWaiter {
    std::uint8_t messageId = 0;
    std::uint8_t filterLength = 0;  // 1 to 3
    std::uint8_t receivedLength = 0;
    // Starts with the filter; the matching message's remaining data bytes follow it.
    std::array<std::uint8_t, kAntMaxDataSize> data{};
    bool satisfied = false;
    std::condition_variable condition;
    ResponseWaiter* next = nullptr;
  };

  // Registers a waiter on construction and makes sure it is gone from the list on destruction.
  class Registration;

  // Sync, length, id, up to 29 data bytes (the most a length byte that passes lets through),
  // checksum.
  static constexpr std::size_t kFrameBufferSize = 33;
  static constexpr unsigned kLastChecksumIndex = kFrameBufferSize - 1;

  void StartFrameLocked();
  void ReceiveFrameLocked();
  void PostErrorLocked(std::uint8_t kind, std::uint8_t code);
  void NotifyMessageLocked();
  void OfferToWaiters(std::uint8_t id, std::uint8_t length, const std::uint8_t* data);

  void Register(ResponseWaiter& waiter);
  // Both do nothing when `waiter` is not in the list.
  void Unregister(ResponseWaiter& waiter);
  void UnlinkLocked(ResponseWaiter& waiter);
  // Waits up to the response wait for `waiter`, unregisters it and says whether it was
  // satisfied.
  bool AwaitAndUnregister(ResponseWaiter& waiter);

  DSISerial* const transport_;
  const std::chrono::milliseconds responseWait_;
  bool initialized_ = false;

  // Guarded by queueLock_.
  std::mutex queueLock_;
  std::condition_variable messageCondition_;
  unsigned messageWaiters_ = 0;
  bool interrupted_ = false;
  std::uint8_t received_ = 0;  // bytes of the current frame so far; 0 while looking for a sync
  std::array<std::uint8_t, kFrameBufferSize> frame_{};
  std::uint8_t runningXor_ = 0;
  // Wider than the length byte so that length + 3 cannot wrap past the frame buffer's end.
  unsigned checksumIndex_ = 0;
  std::unique_ptr<RxMessage[]> ring_;
  std::uint16_t writeIndex_ = 0;  // both indices wrap at 65536 by themselves
  std::uint16_t readIndex_ = 0;
  std::uint8_t errorKind_ = 0;
  std::uint8_t errorCode_ = 0;

  // Guarded by listLock_.
  std::mutex listLock_;
  ResponseWaiter* listHead_ = nullptr;
  ResponseWaiter* listTail_ = nullptr;
};

}  // namespace Pellux
