#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "device/dsi_serial.h"

namespace Pellux {

// A serial transport for framer tests. It records what is written and can refuse writes; the
// test hands it bytes and errors, which it passes to the callback either at once on the test's
// thread (Feed) or, once open, in order on a receive thread of its own (Deliver), as a real
// transport does. An answerer, when set, is asked for the module's reply to every write.
class FakeSerial : public DSISerial {
 public:
  using Bytes = std::vector<std::uint8_t>;
  // Returns the bytes the module sends back for one written frame (none: stays silent).
  using Answerer = std::function<Bytes(const Bytes& written)>;

  FakeSerial() = default;
  ~FakeSerial() override;

  bool AutoInit() override { return true; }
  bool Init(std::uint32_t /*baud*/, std::uint8_t /*deviceNumber*/) override { return true; }
  std::uint32_t GetDeviceSerialNumber() override { return 0; }
  // Starts the receive thread.
  bool Open() override;
  // Delivers what is still queued, then stops the receive thread.
  void Close(bool reset) override;
  bool WriteBytes(const std::uint8_t* data, std::size_t size) override;
  std::uint8_t GetDeviceNumber() override { return 0; }

  void FailWrites(bool fail);
  // Replies go to the receive thread when open, else straight into the callback on the writer's
  // thread before WriteBytes returns.
  void AnswerWith(Answerer answerer);
  std::vector<Bytes> Writes() const;

  // On the calling thread, as if it were the receive thread.
  void Feed(const Bytes& bytes);
  void FeedError(std::uint8_t code);
  // Queued for the receive thread (after Open); Settle waits until it has passed everything on.
  void Deliver(Bytes bytes);
  void DeliverError(std::uint8_t code);
  void Settle();

 private:
  struct Event {
    Bytes bytes;
    bool isError = false;
    std::uint8_t code = 0;
  };

  void Enqueue(Event event);
  void ReceiveLoop();

  mutable std::mutex writeLock_;
  std::vector<Bytes> writes_;
  bool failWrites_ = false;
  Answerer answerer_;

  std::mutex queueLock_;
  std::condition_variable queueChanged_;
  std::deque<Event> queue_;
  bool open_ = false;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread receiveThread_;
};

}  // namespace Pellux
