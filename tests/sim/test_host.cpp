#include "test_host.h"

#include <algorithm>

namespace Pellux {

void TestHost::ProcessByte(std::uint8_t byte) {
  std::lock_guard<std::mutex> guard(mutex_);
  NoteThread();
  if (partial_.empty() && byte != 0xA4) return;
  partial_.push_back(byte);
  if (partial_.size() < 4 || partial_.size() < partial_[1] + 4u) return;
  std::uint8_t sum = 0;
  for (const std::uint8_t b : partial_) {
    sum ^= b;
  }
  if (sum == 0) {
    frames_.push_back(AntFrame{partial_[2], {partial_.begin() + 3, partial_.end() - 1}});
  } else {
    ++badFrames_;
  }
  partial_.clear();
}

void TestHost::Error(std::uint8_t code) {
  std::lock_guard<std::mutex> guard(mutex_);
  NoteThread();
  errors_.push_back(code);
}

std::vector<AntFrame> TestHost::Take() {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<AntFrame> taken;
  taken.swap(frames_);
  return taken;
}

std::vector<std::uint8_t> TestHost::Errors() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return errors_;
}

std::size_t TestHost::BadFrames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return badFrames_;
}

bool TestHost::CalledOnlyOnOneThreadOtherThan(std::thread::id notThis) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return threads_.size() == 1 && threads_.front() != notThis;
}

void TestHost::NoteThread() {
  const std::thread::id self = std::this_thread::get_id();
  if (std::find(threads_.begin(), threads_.end(), self) == threads_.end()) {
    threads_.push_back(self);
  }
}

}  // namespace Pellux
