// pellux-sim: the virtual base station and its virtual tracker, in real time, behind a
// pseudo-terminal, so that the uploader's real tty transport can open it ("SerialPort"). The
// first line on standard output is the terminal's path; notes go to standard error.

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/system_error.h"
#include "device/dsi_serial.h"
#include "sim/frame_stream.h"
#include "sim/pty_endpoint_linux.h"
#include "sim/sim_options.h"
#include "sim/virtual_base_station.h"

namespace Pellux {
namespace {

using Clock = std::chrono::steady_clock;

// How long a byte for the host may wait for room in the terminal before it is dropped.
constexpr std::chrono::milliseconds kWritePatience{1000};

// The station's side of the line: what the module sends goes to the terminal a frame at a time
// (a stray byte outside a frame at once).
class HostLine final : public DSISerialCallback {
 public:
  explicit HostLine(PtyEndpoint& pty) : pty_(pty) {}

  void ProcessByte(std::uint8_t byte) override {
    pending_.push_back(byte);
    const bool stray = pending_.size() == 1 && byte != 0xA4;
    const bool whole =
        pending_.size() >= 2 && pending_.size() >= static_cast<std::size_t>(pending_[1]) + 4;
    if (stray || whole) Flush();
  }
  void Error(std::uint8_t code) override {
    std::cerr << "pellux-sim: the station reported error " << static_cast<int>(code) << "\n";
  }
  [[nodiscard]] std::size_t Dropped() const { return dropped_; }

 private:
  void Flush() {
    const std::size_t sent = pty_.Write(pending_.data(), pending_.size(), kWritePatience);
    dropped_ += pending_.size() - sent;
    pending_.clear();
  }

  PtyEndpoint& pty_;
  std::vector<std::uint8_t> pending_;
  std::size_t dropped_ = 0;
};

enum class Woken { Host, Signal, Timeout };

// Waits for the host's bytes (when `master` is not -1) or a stopping signal, `timeout` at most
// (none: for as long as it takes).
Woken Wait(int master, int signals, std::optional<std::chrono::milliseconds> timeout) {
  std::vector<pollfd> waits{{signals, POLLIN, 0}};
  if (master >= 0) waits.push_back({master, POLLIN, 0});
  const int ms = timeout ? static_cast<int>(std::max<long long>(0, timeout->count())) : -1;
  if (::poll(waits.data(), waits.size(), ms) <= 0) return Woken::Timeout;
  if (waits[0].revents != 0) return Woken::Signal;
  return Woken::Host;
}

int RunStation(const SimOptions& options, PtyEndpoint& pty, int signals) {
  VirtualBaseStation station(SystemClock::Instance(), options.station);
  station.WithTracker([&options](VirtualTracker& tracker) {
    for (const auto& [prefix, answer] : options.answers) tracker.SetAnswer(prefix, answer);
    if (options.defaultAnswer) tracker.SetDefaultAnswer(*options.defaultAnswer);
  });
  for (const SimFault& fault : options.faults) fault.ApplyTo(station.Faults());
  HostLine line(pty);
  station.SetCallback(&line);
  if (!station.Init(VirtualBaseStation::kAutoInitBaud, options.station.devicePosition) ||
      !station.Open()) {
    std::cerr << "pellux-sim: the virtual station did not open\n";
    return 1;
  }
  const auto start = Clock::now();
  bool unplugged = false;
  for (;;) {
    std::optional<std::chrono::milliseconds> left;
    if (options.unplugAfter && !unplugged) {
      left =
          std::chrono::ceil<std::chrono::milliseconds>(start + *options.unplugAfter - Clock::now());
    }
    const Woken woken = Wait(pty.MasterFd(), signals, left);
    if (woken == Woken::Signal) break;
    if (woken == Woken::Timeout && left) {
      station.Close(false);
      pty.Close();
      unplugged = true;
      std::cerr << "pellux-sim: unplugged after " << options.unplugAfter->count() << " ms\n";
      continue;
    }
    const std::vector<std::uint8_t> bytes = pty.Read();
    if (!bytes.empty()) station.WriteBytes(bytes.data(), bytes.size());
  }
  station.Close(false);
  const TrackerSnapshot tracker = station.Tracker();
  std::cerr << "pellux-sim: stopped; " << station.HostMessageCount()
            << " message(s) from the host, " << tracker.commands.size()
            << " command(s) run on the tracker, " << line.Dropped() << " byte(s) dropped\n";
  return 0;
}

int RunStream(const SimOptions& options, PtyEndpoint& pty, int signals) {
  // The host's first byte says it has the port open and set up: nothing it could miss goes
  // before it.
  if (Wait(pty.MasterFd(), signals, std::nullopt) == Woken::Signal) return 0;
  // The go byte itself means nothing.
  static_cast<void>(pty.Read());
  const double rate = *options.streamRate;
  const auto start = Clock::now();
  std::uint32_t frames = 0;
  std::uint64_t sent = 0;
  std::uint64_t dropped = 0;
  for (;;) {
    const auto elapsed = Clock::now() - start;
    const bool done = elapsed >= options.streamFor;
    const double due =
        rate * std::chrono::duration<double>(done ? options.streamFor : elapsed).count();
    while (static_cast<double>(sent + dropped) < due) {
      const std::vector<std::uint8_t> frame = FrameStream::Frame(frames++);
      const std::size_t went = pty.Write(frame.data(), frame.size(), kWritePatience);
      sent += went;
      dropped += frame.size() - went;
    }
    if (done) break;
    if (Wait(-1, signals, std::chrono::milliseconds(2)) == Woken::Signal) break;
  }
  std::printf("sent %u frames %llu bytes dropped %llu\n", frames,
              static_cast<unsigned long long>(sent), static_cast<unsigned long long>(dropped));
  std::fflush(stdout);
  // The plug goes once the host says it has everything (a byte), five seconds at most: a
  // closed master takes whatever the slave still holds with it.
  if (Wait(pty.MasterFd(), signals, std::chrono::milliseconds(5000)) == Woken::Signal) return 0;
  pty.Close();
  return 0;
}

int Run(const SimOptions& options) {
  ::signal(SIGPIPE, SIG_IGN);
  // SIGTERM and SIGINT arrive through a descriptor, in the main loop; every thread started
  // later inherits the mask.
  sigset_t stopping;
  sigemptyset(&stopping);
  sigaddset(&stopping, SIGTERM);
  sigaddset(&stopping, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
  const int signals = ::signalfd(-1, &stopping, SFD_CLOEXEC);
  if (signals < 0) {
    std::cerr << "pellux-sim: " << SystemCallFailure("signalfd", "", LastSystemError()) << "\n";
    return 1;
  }
  PtyEndpoint pty;
  if (!pty.Ok()) {
    std::cerr << "pellux-sim: " << pty.Error() << "\n";
    return 1;
  }
  std::printf("%s\n", pty.SlavePath().c_str());
  std::fflush(stdout);
  return options.streamRate ? RunStream(options, pty, signals) : RunStation(options, pty, signals);
}

}  // namespace
}  // namespace Pellux

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const Pellux::SimArguments parsed = Pellux::ParseSimArguments(arguments);
  if (parsed.wantsHelp) {
    std::cout << Pellux::kSimUsage;
    return 0;
  }
  if (!parsed.error.empty()) {
    std::cerr << "pellux-sim: " << parsed.error << "\n" << Pellux::kSimUsage;
    return 2;
  }
  return Pellux::Run(parsed.options);
}
