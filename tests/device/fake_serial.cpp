#include "tests/device/fake_serial.h"

#include <utility>

namespace Pellux {

FakeSerial::~FakeSerial() {
  Close(false);
}

bool FakeSerial::Open() {
  if (receiveThread_.joinable()) return false;
  {
    std::lock_guard lock(queueLock_);
    stopping_ = false;
    open_ = true;
  }
  receiveThread_ = std::thread([this] { ReceiveLoop(); });
  return true;
}

void FakeSerial::Close(bool /*reset*/) {
  if (!receiveThread_.joinable()) return;
  {
    std::lock_guard lock(queueLock_);
    stopping_ = true;
  }
  queueChanged_.notify_all();
  receiveThread_.join();
  std::lock_guard lock(queueLock_);
  open_ = false;
}

bool FakeSerial::WriteBytes(const std::uint8_t* data, std::size_t size) {
  Bytes written(data, data + size);
  Answerer answerer;
  {
    std::lock_guard lock(writeLock_);
    writes_.push_back(written);
    if (failWrites_) return false;
    answerer = answerer_;
  }
  if (!answerer) return true;
  Bytes reply = answerer(written);
  if (reply.empty()) return true;
  bool open = false;
  {
    std::lock_guard lock(queueLock_);
    open = open_;
  }
  if (open) {
    Deliver(std::move(reply));
  } else {
    Feed(reply);
  }
  return true;
}

void FakeSerial::FailWrites(bool fail) {
  std::lock_guard lock(writeLock_);
  failWrites_ = fail;
}

void FakeSerial::AnswerWith(Answerer answerer) {
  std::lock_guard lock(writeLock_);
  answerer_ = std::move(answerer);
}

std::vector<FakeSerial::Bytes> FakeSerial::Writes() const {
  std::lock_guard lock(writeLock_);
  return writes_;
}

void FakeSerial::Feed(const Bytes& bytes) {
  for (const std::uint8_t byte : bytes) callback_->ProcessByte(byte);
}

void FakeSerial::FeedError(std::uint8_t code) {
  callback_->Error(code);
}

void FakeSerial::Deliver(Bytes bytes) {
  Enqueue(Event{std::move(bytes)});
}

void FakeSerial::DeliverError(std::uint8_t code) {
  Enqueue(Event{{}, true, code});
}

void FakeSerial::Settle() {
  std::unique_lock lock(queueLock_);
  queueChanged_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void FakeSerial::Enqueue(Event event) {
  {
    std::lock_guard lock(queueLock_);
    queue_.push_back(std::move(event));
  }
  queueChanged_.notify_all();
}

void FakeSerial::ReceiveLoop() {
  std::unique_lock lock(queueLock_);
  for (;;) {
    queueChanged_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and everything delivered
    Event event = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    if (event.isError) {
      callback_->Error(event.code);
    } else {
      Feed(event.bytes);
    }
    lock.lock();
    busy_ = false;
    queueChanged_.notify_all();
  }
}

}  // namespace Pellux
