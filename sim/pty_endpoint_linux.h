#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Pellux {

// The device end of a pseudo-terminal, as pellux-sim plays a USB serial bridge: it owns the
// master and keeps one descriptor of the slave open itself, so that the master never sees a
// hang-up while no host has the port open (and bytes a host never read wait in the slave's
// buffer, where a host's opening flush drops them, as on a real port). The slave starts raw.
//
// Threads: Write may be called from any thread (serialised inside); Read and Close from one.
class PtyEndpoint {
 public:
  // Opens a new pseudo-terminal; Ok() tells whether that worked, Error() why not.
  PtyEndpoint();
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;
  ~PtyEndpoint();

  [[nodiscard]] bool Ok() const { return master_ >= 0; }
  [[nodiscard]] const std::string& Error() const { return error_; }
  // The path a host opens, /dev/pts/N.
  [[nodiscard]] const std::string& SlavePath() const { return slavePath_; }
  // The master, for poll (POLLIN: the host wrote).
  [[nodiscard]] int MasterFd() const { return master_; }

  // Sends `size` bytes toward the host, waiting for room up to `patience` in all. Returns how
  // many went; the rest is dropped, as a UART drops what its host does not take.
  std::size_t Write(const std::uint8_t* data, std::size_t size, std::chrono::milliseconds patience);
  // What the host wrote, without waiting; empty when nothing is there.
  // Const: it changes the kernel's queue, not this object.
  [[nodiscard]] std::vector<std::uint8_t> Read() const;
  // Pulls the plug: both descriptors closed, the host's port hangs up and the path goes.
  void Close();

 private:
  std::mutex writeMutex_;
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string error_;
};

}  // namespace Pellux
