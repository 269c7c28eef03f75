#include "device/dsi_framer_ant.h"

#include <algorithm>
#include <limits>
#include <new>

namespace Pellux {

namespace {

// Largest frame we send: sync, length, id, 20 data bytes, checksum and two trailing zeros.
constexpr std::size_t kLongestOutgoingFrame = 3 + kAntMaxDataSize + 1 + 2;
// Where the 8 key bytes of a network-key message sit in its frame: after sync, length, id and
// the network number.
constexpr std::size_t kNetworkKeyOffset = 4;
constexpr std::size_t kNetworkKeySize = 8;
// The channel response's third data byte is the response code.
constexpr std::uint8_t kResponseCodeIndex = 2;

// Stores through a volatile pointer so that the compiler keeps them even though the buffer is
// never read again.
void Scrub(std::uint8_t* bytes, std::size_t size) {
  volatile std::uint8_t* target = bytes;
  for (std::size_t i = 0; i < size; ++i) target[i] = 0;
}

}  // namespace

static_assert(DSIFramerANT::kRingSize - 1 == std::numeric_limits<std::uint16_t>::max(),
              "the ring indices must wrap at the ring's size by themselves");
static_assert(kLongestOutgoingFrame >= kNetworkKeyOffset + kNetworkKeySize);

class DSIFramerANT::Registration {
 public:
  Registration(DSIFramerANT& framer, std::uint8_t messageId,
               std::initializer_list<std::uint8_t> filter)
      : framer_(framer), waiter_(std::make_unique<ResponseWaiter>()) {
    waiter_->messageId = messageId;
    waiter_->filterLength = static_cast<std::uint8_t>(filter.size());
    std::copy(filter.begin(), filter.end(), waiter_->data.begin());
    framer_.Register(*waiter_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
  ~Registration() { framer_.Unregister(*waiter_); }

  bool Await() { return framer_.AwaitAndUnregister(*waiter_); }
  // Read only after Await: from then on the receive thread no longer sees the waiter.
  const ResponseWaiter& waiter() const { return *waiter_; }

 private:
  DSIFramerANT& framer_;
  std::unique_ptr<ResponseWaiter> waiter_;
};

DSIFramerANT::DSIFramerANT(DSISerial* transport, std::chrono::milliseconds responseWait)
    : transport_(transport),
      responseWait_(responseWait),
      // Allocated once here, so that the receive thread never allocates.
      ring_(new (std::nothrow) RxMessage[kRingSize]) {
  // The locks and conditions either exist once constructed or have thrown; the ring is the one
  // thing that can be missing.
  initialized_ = ring_ != nullptr;
}

DSIFramerANT::~DSIFramerANT() = default;

bool DSIFramerANT::Init() {
  std::lock_guard lock(queueLock_);
  received_ = 0;
  runningXor_ = 0;
  checksumIndex_ = 0;
  frame_.fill(0);
  writeIndex_ = 0;
  readIndex_ = 0;
  errorKind_ = 0;
  errorCode_ = 0;
  return initialized_ && transport_ != nullptr;
}

void DSIFramerANT::ProcessByte(std::uint8_t byte) {
  std::lock_guard lock(queueLock_);
  if (!initialized_) return;

  if (received_ == 0) {
    // Between frames only a sync byte means anything.
    if (byte == kAntSync) StartFrameLocked();
    return;
  }

  if (received_ == 1) {
    frame_[1] = byte;
    runningXor_ ^= byte;
    checksumIndex_ = static_cast<unsigned>(byte) + 3;
    if (checksumIndex_ <= kLastChecksumIndex) {
      received_ = 2;
      return;
    }
    // No frame is that long: this was not a length byte. A sync byte here most likely starts
    // the real frame after a stray sync-valued byte, so it is not thrown away.
    received_ = 0;
    if (byte == kAntSync) StartFrameLocked();
    return;
  }

  frame_[received_] = byte;
  runningXor_ ^= byte;
  if (received_ < checksumIndex_) {
    ++received_;
    return;
  }

  // The checksum byte: the exclusive-or over the whole frame, checksum included, is 0.
  received_ = 0;
  if (runningXor_ != 0) {
    // What Error does; we hold the queue lock already.
    PostErrorLocked(kErrorReported, kBadChecksum);
    return;
  }
  ReceiveFrameLocked();
}

void DSIFramerANT::Error(std::uint8_t code) {
  std::lock_guard lock(queueLock_);
  PostErrorLocked(kErrorReported, code);
}

void DSIFramerANT::StartFrameLocked() {
  frame_[0] = kAntSync;
  runningXor_ = kAntSync;
  checksumIndex_ = 2;
  received_ = 1;
}

void DSIFramerANT::ReceiveFrameLocked() {
  const std::uint8_t length = frame_[1];
  const std::uint8_t id = frame_[2];
  const std::uint8_t* data = frame_.data() + 3;

  // Commands waiting for this answer see it first; the pump still gets every message.
  OfferToWaiters(id, length, data);

  if (static_cast<std::uint16_t>(writeIndex_ + 1) == readIndex_) {
    PostErrorLocked(kQueueOverflow, 0);
    return;
  }
  RxMessage& record = ring_[writeIndex_];
  record.length = length;
  record.id = id;
  std::copy_n(data, std::min<std::size_t>(length, kAntMaxDataSize), record.data.begin());
  ++writeIndex_;
  NotifyMessageLocked();
}

void DSIFramerANT::PostErrorLocked(std::uint8_t kind, std::uint8_t code) {
  // One slot: the latest error is the one reported. Any of them stops the pump.
  errorKind_ = kind;
  errorCode_ = code;
  NotifyMessageLocked();
}

void DSIFramerANT::NotifyMessageLocked() {
  // Most bytes arrive while the pump is busy elsewhere; skip the wake-up call then.
  if (messageWaiters_ != 0) messageCondition_.notify_all();
}

void DSIFramerANT::OfferToWaiters(std::uint8_t id, std::uint8_t length, const std::uint8_t* data) {
  std::lock_guard lock(listLock_);
  const std::size_t stored = std::min<std::size_t>(length, kAntMaxDataSize);
  for (ResponseWaiter* waiter = listHead_; waiter != nullptr; waiter = waiter->next) {
    // A message shorter than the filter cannot carry the bytes it asks for.
    if (waiter->satisfied || waiter->messageId != id || length < waiter->filterLength) continue;
    if (!std::equal(data, data + waiter->filterLength, waiter->data.begin())) continue;
    std::copy(data + waiter->filterLength, data + stored,
              waiter->data.begin() + waiter->filterLength);
    waiter->receivedLength = length;
    waiter->satisfied = true;
    // Under the list lock: the waiting thread cannot unregister and free the waiter meanwhile.
    waiter->condition.notify_one();
  }
}

bool DSIFramerANT::WriteMessage(const AntMessage& message, std::uint8_t length) {
  if (length > kAntMaxDataSize || transport_ == nullptr) return false;

  std::array<std::uint8_t, kLongestOutgoingFrame> frame{};
  frame[0] = kAntSync;
  frame[1] = length;
  frame[2] = message.id;
  std::copy_n(message.data.begin(), length, frame.begin() + 3);
  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < 3u + length; ++i) checksum ^= frame[i];
  frame[3u + length] = checksum;
  // frame[4 + length] and frame[5 + length] stay 0: the module expects two zeros after a frame.

  const bool written = transport_->WriteBytes(frame.data(), length + 6u);

  if (message.id == AntId::kNetworkKey) {
    // Leave no copy of the network key behind on the stack, whether or not the write worked.
    // The checksum is the key bytes' exclusive-or with the rest, so it goes too.
    Scrub(frame.data() + kNetworkKeyOffset, kNetworkKeySize);
    Scrub(frame.data() + 3 + length, 1);
  }
  return written;
}

std::uint16_t DSIFramerANT::WaitForMessage(std::uint32_t milliseconds) {
  std::unique_lock lock(queueLock_);
  if (!initialized_) return kFramerError;
  const auto ready = [this] { return errorKind_ != 0 || readIndex_ != writeIndex_; };
  const auto wake = [this, &ready] { return interrupted_ || ready(); };
  if (!wake() && milliseconds != 0) {
    ++messageWaiters_;
    messageCondition_.wait_for(lock, std::chrono::milliseconds(milliseconds), wake);
    --messageWaiters_;
  }
  if (errorKind_ != 0) return kFramerError;
  if (readIndex_ != writeIndex_) return ring_[readIndex_].length;
  return kTimedOut;
}

void DSIFramerANT::Interrupt() {
  {
    std::lock_guard lock(queueLock_);
    interrupted_ = true;
  }
  messageCondition_.notify_all();
}

std::size_t DSIFramerANT::PendingForPump() {
  std::lock_guard lock(queueLock_);
  return static_cast<std::uint16_t>(writeIndex_ - readIndex_) + (errorKind_ != 0 ? 1U : 0U);
}

std::uint16_t DSIFramerANT::GetMessage(AntMessage& out, std::uint8_t maxLength) {
  std::lock_guard lock(queueLock_);
  if (!initialized_) return kFramerError;

  if (errorKind_ != 0) {
    out.id = errorKind_;
    if (errorKind_ == kErrorReported) out.data[0] = errorCode_;
    errorKind_ = 0;
    errorCode_ = 0;
    return kFramerError;
  }
  if (readIndex_ == writeIndex_) return kTimedOut;

  const RxMessage& record = ring_[readIndex_];
  ++readIndex_;
  std::uint8_t length = record.length;
  if (maxLength != 0 && length >= maxLength) length = maxLength;
  if (length > kAntMaxDataSize) {
    // Only 20 of its data bytes were kept; handing out a part would mislead the pump.
    out.id = kOversizedMessage;
    return kFramerError;
  }
  out.id = record.id;
  std::copy_n(record.data.begin(), length, out.data.begin());
  return length;
}

bool DSIFramerANT::SendCommand(const AntMessage& message, std::uint8_t length, bool* written) {
  // The module answers a command with 0x40 [first data byte of the command, command id, code].
  Registration response(*this, AntId::kChannelResponse, {message.data[0], message.id});
  const bool sent = WriteMessage(message, length);
  if (written != nullptr) *written = sent;
  if (!sent) return false;
  if (!response.Await()) return false;
  const ResponseWaiter& answer = response.waiter();
  // A response too short to hold a code did not say the command worked.
  return answer.receivedLength > kResponseCodeIndex &&
         answer.data[kResponseCodeIndex] == AntResponse::kNoError;
}

bool DSIFramerANT::CloseChannelAndWait(std::uint8_t channel, bool* written) {
  // Registered before the command goes out: the event may follow the response at once.
  Registration closed(*this, AntId::kChannelResponse,
                      {channel, AntId::kEvent, AntEvent::kChannelClosed});
  AntMessage close;
  close.id = AntId::kCloseChannel;
  close.data[0] = channel;
  if (!SendCommand(close, 1, written)) return false;
  return closed.Await();
}

void DSIFramerANT::Register(ResponseWaiter& waiter) {
  std::lock_guard lock(listLock_);
  waiter.next = nullptr;
  if (listTail_ == nullptr) {
    listHead_ = &waiter;
  } else {
    listTail_->next = &waiter;
  }
  listTail_ = &waiter;
}

void DSIFramerANT::Unregister(ResponseWaiter& waiter) {
  std::lock_guard lock(listLock_);
  UnlinkLocked(waiter);
}

void DSIFramerANT::UnlinkLocked(ResponseWaiter& waiter) {
  ResponseWaiter* previous = nullptr;
  for (ResponseWaiter* current = listHead_; current != nullptr; current = current->next) {
    if (current != &waiter) {
      previous = current;
      continue;
    }
    if (previous == nullptr) {
      listHead_ = current->next;
    } else {
      previous->next = current->next;
    }
    if (listTail_ == current) listTail_ = previous;
    current->next = nullptr;
    return;
  }
}

bool DSIFramerANT::AwaitAndUnregister(ResponseWaiter& waiter) {
  std::unique_lock lock(listLock_);
  // The wait releases the list lock, so the receive thread can satisfy the waiter.
  const bool satisfied =
      waiter.condition.wait_for(lock, responseWait_, [&] { return waiter.satisfied; });
  // Unlinked in the same hold of the lock: an answer arriving after the time-out finds nothing.
  UnlinkLocked(waiter);
  return satisfied;
}

}  // namespace Pellux
