#pragma once

#include <mutex>
#include <sstream>
#include <string>

namespace Pellux {

// An output stream buffer that one thread writes while the test reads it.
class LockedText final : public std::stringbuf {
 public:
  std::string Text() {
    std::lock_guard guard(mutex_);
    return str();
  }

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    std::lock_guard guard(mutex_);
    return std::stringbuf::xsputn(text, count);
  }
  int_type overflow(int_type c) override {
    std::lock_guard guard(mutex_);
    return std::stringbuf::overflow(c);
  }

 private:
  // The base class's xsputn calls overflow: the same thread takes it twice.
  std::recursive_mutex mutex_;
};

}  // namespace Pellux
