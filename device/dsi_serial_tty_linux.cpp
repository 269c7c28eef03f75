// The serial transport over a Linux tty. This file uses the kernel's own termios2 (asm/termbits.h)
// for the exact custom rate; glibc's <termios.h> must not be included beside it.

#include "device/dsi_serial_tty_linux.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "device/usb_text_rules.h"

namespace Pellux {
namespace {

constexpr int kNoFd = -1;

int PollMilliseconds(std::chrono::milliseconds duration) {
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, duration.count()));
}

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

const char* DSISerialTTY::OpenFailureHint(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return " (not found: unplugged, or a wrong SerialPort setting?)";
    case EACCES:
      return " (no permission: the service's user pellux opens a tty of the group pellux, which "
             "60-pellux.rules gives the base station only; for another adapter add a udev line "
             "as the README's SerialPort section shows)";
    case EPERM:
      return " (not allowed: pellux.service opens only ttyUSB and ttyACM devices (DeviceAllow); "
             "for another kind add a drop-in as the README's SerialPort section shows)";
    case EBUSY:
    case EWOULDBLOCK:
      return " (in use by another program)";
    default:
      return "";
  }
}

DSISerialTTY::ReadFailure DSISerialTTY::ClassifyReadFailure(int error) {
  switch (error) {
    case EINTR:
    case EAGAIN:
      return ReadFailure::Retry;
    case EIO:
    case ENXIO:
    case ENODEV:
      return ReadFailure::DeviceGone;
    default:
      return ReadFailure::Fatal;
  }
}

DSISerialTTY::DSISerialTTY(UsbSerialPortLister ports, DeviceLog log, Options options)
    : ports_(std::move(ports)), log_(std::move(log)), options_(options) {}

DSISerialTTY::DSISerialTTY(UsbSerialPortLister ports, DeviceLog log)
    : DSISerialTTY(std::move(ports), std::move(log), Options{}) {}

DSISerialTTY::~DSISerialTTY() {
  Close(false);
}

std::optional<UsbSerialPort> DSISerialTTY::PortAt(std::uint8_t deviceNumber) const {
  if (!ports_) return std::nullopt;
  std::vector<UsbSerialPort> listed = ports_();
  if (deviceNumber >= listed.size()) return std::nullopt;
  return std::move(listed[deviceNumber]);
}

bool DSISerialTTY::AutoInit() {
  Close(false);
  const std::vector<UsbSerialPort> listed = ports_ ? ports_() : std::vector<UsbSerialPort>{};
  for (std::size_t index = 0; index < listed.size() && index < 0xFF; ++index) {
    const UsbSerialPort& port = listed[index];
    if (!IsAntUsbStickProduct(port.product)) continue;
    // The bridge transport's test opening: can the port be had at all? No line settings are made.
    const int fd = ::open(port.node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
      LogFailure("open", port.node, errno);
      continue;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!free) LogFailure("flock", port.node, errno);
    ::close(fd);
    if (!free) continue;
    std::lock_guard guard(mutex_);
    deviceNumber_ = static_cast<std::uint8_t>(index);
    baud_ = kAutoInitBaud;
    return true;
  }
  Log(LogLevel::kError, "No serial port that looks like a base station could be opened.");
  return false;
}

bool DSISerialTTY::Init(std::uint32_t baud, std::uint8_t deviceNumber) {
  Close(false);
  std::lock_guard guard(mutex_);
  baud_ = baud;
  deviceNumber_ = deviceNumber;
  return true;
}

std::uint32_t DSISerialTTY::GetDeviceSerialNumber() {
  std::lock_guard guard(mutex_);
  return openPort_ ? LeadingDecimalNumber(openPort_->serial) : 0;
}

bool DSISerialTTY::GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                                    std::string& serial) {
  const std::optional<UsbSerialPort> port = PortAt(deviceNumber);
  if (!port) return false;
  product = port->product;
  serial = port->serial;
  return true;
}

bool DSISerialTTY::GetDevicePID(std::uint16_t& productId) {
  std::lock_guard guard(mutex_);
  if (!openPort_) return false;
  productId = openPort_->productId;
  return true;
}

std::uint8_t DSISerialTTY::GetDeviceNumber() {
  std::lock_guard guard(mutex_);
  return deviceNumber_;
}

std::uint32_t DSISerialTTY::ActualBaud() const {
  std::lock_guard guard(mutex_);
  return actualBaud_;
}

std::string DSISerialTTY::OpenNode() const {
  std::lock_guard guard(mutex_);
  return openPort_ ? openPort_->node : std::string();
}

bool DSISerialTTY::Open() {
  std::lock_guard guard(mutex_);
  if (reader_.joinable()) {
    Log(LogLevel::kError, "The serial port is open already.");
    return false;
  }
  if (callback_ == nullptr) {
    Log(LogLevel::kError, "The serial port cannot be opened without a receiver for its bytes.");
    return false;
  }
  std::optional<UsbSerialPort> port = PortAt(deviceNumber_);
  if (!port) {
    Log(LogLevel::kError,
        FormatLine("No serial port number %d is attached.", static_cast<int>(deviceNumber_)).str());
    return false;
  }
  std::uint32_t actual = 0;
  const int fd = OpenNodeFd(port->node, baud_, actual);
  if (fd < 0) return false;
  const int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int stopError = errno;
  const int notify = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int notifyError = errno;
  if (stop < 0 || notify < 0) {
    LogFailure("eventfd", port->node, stop < 0 ? stopError : notifyError);
    CloseQuietly(stop);
    CloseQuietly(notify);
    ::close(fd);
    return false;
  }
  stopping_.store(false);
  pendingWriteFailures_.store(0);
  {
    std::lock_guard writeGuard(writeMutex_);
    fd_ = fd;
    stop_ = stop;
    notify_ = notify;
    writeNode_ = port->node;
  }
  try {
    reader_ = std::thread([this, fd, stop, notify, callback = callback_] {
      // Fifteen characters at most: the name the kernel shows in /proc and top.
      pthread_setname_np(pthread_self(), "pellux-tty-read");
      ReadLoop(fd, stop, notify, callback);
    });
  } catch (const std::system_error& error) {
    Log(LogLevel::kError,
        FormatLine("The serial port's receive thread could not start: %s", error.what()).str());
    std::lock_guard writeGuard(writeMutex_);
    fd_ = stop_ = notify_ = kNoFd;
    ::close(fd);
    ::close(stop);
    ::close(notify);
    return false;
  }
  actualBaud_ = actual;
  openPort_ = std::move(port);
  return true;
}

int DSISerialTTY::OpenNodeFd(const std::string& node, std::uint32_t baud,
                             std::uint32_t& actualBaud) {
  // O_NONBLOCK: the open must not wait for a carrier (CLOCAL is not set yet), and writes wait
  // for room with poll, bounded to the write time-out, instead of in write itself.
  const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    LogFailure("open", node, errno);
    return kNoFd;
  }
  const auto fail = [&](const char* call) {
    LogFailure(call, node, errno);
    ::close(fd);
    return kNoFd;
  };
  if (::isatty(fd) == 0) return fail("isatty");
  // Later openers without CAP_SYS_ADMIN get EBUSY.
  if (::ioctl(fd, TIOCEXCL) != 0) return fail("ioctl(TIOCEXCL)");
  // TIOCEXCL does not hold root back, and the daemon runs as root: a second uploader (or any
  // program that asks for the same lock, as many serial tools do) is kept off by the lock.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::ioctl(fd, TIOCNXCL);
    errno = error;
    return fail("flock");
  }
  if (!ApplyLineSettings(fd, node, baud, actualBaud)) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return kNoFd;
  }
  // Whatever waited in either direction belongs to an earlier user of the port.
  if (::ioctl(fd, TCFLSH, TCIOFLUSH) != 0) LogFailure("ioctl(TCFLSH)", node, errno);
  Log(LogLevel::kDetail, FormatLine("Opened serial port %s at %u baud (asked for %u), 8N1, raw.",
                                    node, actualBaud, baud)
                             .str());
  return fd;
}

bool DSISerialTTY::ApplyLineSettings(int fd, const std::string& node, std::uint32_t baud,
                                     std::uint32_t& actualBaud) {
  struct termios2 settings {};
  if (::ioctl(fd, TCGETS2, &settings) != 0) {
    LogFailure("ioctl(TCGETS2)", node, errno);
    return false;
  }
  // Raw, as cfmakeraw makes it: no input or output processing, no echo, no signals, no
  // canonical lines; every byte passes as it came.
  settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                             ICRNL | IXON | IXOFF | IXANY);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // 8 data bits, no parity, 1 stop bit: the bridge's line control word 0x0800.
  settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  settings.c_cflag |= CS8 | CREAD;
  // Flow control, from the bridge transport's SI_SetFlowControl(CTS 1, RTS 1, DTR 0, DSR 0, DCD 0,
  // no XON/XOFF), as far as a Linux tty has each:
  // - CTS a handshake line (1): CRTSCTS, so the driver holds its output while the module
  //   drops CTS. Linux has no CTS-only mode; CRTSCTS also makes RTS a receive handshake, which
  //   keeps RTS active whenever the receive buffer has room, that is all the time at this rate:
  //   as close as a tty comes to
  // - RTS held active (1): raised at once below (TIOCMBIS), then left to the driver.
  // - DTR held inactive (0): lowered below (TIOCMBIC); Linux raises it on every open.
  // - DSR and DCD status inputs (0), never handshakes: CLOCAL makes the tty ignore the carrier,
  //   and Linux never gates on DSR.
  // - XON/XOFF off: IXON, IXOFF and IXANY cleared above.
  // A pseudo-terminal has no modem lines: its refusal of TIOCMBIS and TIOCMBIC is only noted.
  settings.c_cflag |= CLOCAL | CRTSCTS;
  if (baud != 0) {
    // The exact rate: 50000 has no B constant. BOTHER takes c_ospeed and c_ispeed as numbers.
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ospeed = baud;
    settings.c_ispeed = baud;
  }
  // Reads never wait in the driver: the receive thread's poll does the waiting.
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::ioctl(fd, TCSETS2, &settings) != 0) {
    LogFailure("ioctl(TCSETS2)", node, errno);
    return false;
  }
  struct termios2 taken {};
  if (::ioctl(fd, TCGETS2, &taken) != 0) {
    LogFailure("ioctl(TCGETS2)", node, errno);
    return false;
  }
  actualBaud = taken.c_ospeed;
  if (baud != 0 && taken.c_ospeed != baud) {
    // A bridge that cannot make the rate exactly takes its nearest; the module may still
    // understand it, and the framer will tell.
    Log(LogLevel::kError, FormatLine("Serial port %s runs at %u baud, not the %u asked for.", node,
                                     taken.c_ospeed, baud)
                              .str());
  }
  if ((taken.c_cflag & CSIZE) != CS8 || (taken.c_cflag & (PARENB | CSTOPB)) != 0) {
    Log(LogLevel::kError,
        FormatLine("Serial port %s did not take 8N1 (c_cflag 0%o).", node, taken.c_cflag).str());
    return false;
  }
  int lines = TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIS, &lines) != 0) {
    Log(LogLevel::kDetail, FormatLine("Serial port %s has no RTS line to raise: %s", node,
                                      DescribeSystemError(static_cast<unsigned long>(errno)))
                               .str());
  }
  lines = TIOCM_DTR;
  if (::ioctl(fd, TIOCMBIC, &lines) != 0) {
    Log(LogLevel::kDetail, FormatLine("Serial port %s has no DTR line to lower: %s", node,
                                      DescribeSystemError(static_cast<unsigned long>(errno)))
                               .str());
  }
  return true;
}

void DSISerialTTY::Close(bool /*reset*/) {
  std::lock_guard guard(mutex_);
  if (!reader_.joinable()) return;
  stopping_.store(true);
  // A write may hold writeMutex_ while it waits for room: the descriptors change only under
  // both locks, so reading one under mutex_ alone is safe.
  const int stop = stop_;
  // Wakes the receive thread and any write that waits for room; never read, so it stays set.
  const std::uint64_t one = 1;
  if (::write(stop, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
    LogFailure("write", "the receive thread's wake-up", errno);
  }
  reader_.join();
  std::lock_guard writeGuard(writeMutex_);
  ::ioctl(fd_, TIOCNXCL);
  // Closing also lets go of the flock.
  if (::close(fd_) != 0) LogFailure("close", writeNode_, errno);
  ::close(stop_);
  ::close(notify_);
  fd_ = stop_ = notify_ = kNoFd;
  Log(LogLevel::kDetail, FormatLine("Closed serial port %s.", writeNode_).str());
  writeNode_.clear();
  openPort_.reset();
}

bool DSISerialTTY::WriteBytes(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return false;
  std::lock_guard writeGuard(writeMutex_);
  if (fd_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + options_.writeTimeout;
  std::size_t done = 0;
  int failure = 0;
  const char* failedCall = "write";
  while (done < size) {
    const ssize_t written = ::write(fd_, data + done, size - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN) {
      failure = errno;
      break;
    }
    // The device's buffer is full: wait for room, the write time-out at most.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      failure = ETIMEDOUT;
      break;
    }
    std::array<pollfd, 2> waits{{{fd_, POLLOUT, 0}, {stop_, POLLIN, 0}}};
    const int ready = ::poll(waits.data(), waits.size(), PollMilliseconds(left));
    if (ready < 0 && errno != EINTR) {
      failure = errno;
      failedCall = "poll";
      break;
    }
    // Closing: the write is given up, and nobody is told of it any more.
    if (waits[1].revents != 0 || stopping_.load()) return false;
  }
  if (done == size) return true;
  LogFailure(failedCall, writeNode_, failure);
  Log(LogLevel::kError, FormatLine("Wrote %u of %u bytes to the serial port.", done, size).str());
  pendingWriteFailures_.fetch_add(1);
  const std::uint64_t one = 1;
  if (::write(notify_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) {
    LogFailure("write", "the receive thread's wake-up", errno);
  }
  return false;
}

void DSISerialTTY::ReadLoop(int fd, int stop, int notify, DSISerialCallback* callback) {
  std::array<std::uint8_t, 4096> buffer{};
  int goneReports = 0;
  // Bytes, Close and a failed write each wake the thread through a descriptor: the time-out is
  // only a last resort should Close's wake-up not have been written, not a tick of its own.
  constexpr int kLastResortMs = 60000;
  while (!stopping_.load()) {
    std::array<pollfd, 3> waits{{{fd, POLLIN, 0}, {stop, POLLIN, 0}, {notify, POLLIN, 0}}};
    const int ready = ::poll(waits.data(), waits.size(), kLastResortMs);
    if (ready < 0) {
      const int error = errno;
      if (ClassifyReadFailure(error) == ReadFailure::Retry) continue;
      LogFailure("poll", "the serial port", error);
      callback->Error(DSISerialCallback::kReadFailed);
      return;
    }
    if (waits[1].revents != 0 || stopping_.load()) return;
    if (waits[2].revents != 0) {
      std::uint64_t count = 0;
      if (::read(notify, &count, sizeof count) < 0 && errno != EAGAIN) {
        LogFailure("read", "the receive thread's wake-up", errno);
      }
      DeliverWriteFailures(callback);
    }
    const short events = waits[0].revents;
    if (events == 0) continue;
    if ((events & POLLNVAL) != 0) {
      Log(LogLevel::kError, "The serial port's descriptor is no longer valid; reading stops.");
      callback->Error(DSISerialCallback::kReadFailed);
      return;
    }
    int goneError = 0;
    if ((events & POLLIN) != 0) {
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got > 0) {
        goneReports = 0;
        for (ssize_t i = 0; i < got; ++i)
          callback->ProcessByte(buffer[static_cast<std::size_t>(i)]);
        continue;
      }
      if (got < 0) {
        const int error = errno;
        const ReadFailure kind = ClassifyReadFailure(error);
        if (kind == ReadFailure::Retry) continue;
        if (kind == ReadFailure::Fatal) {
          LogFailure("read", "the serial port", error);
          callback->Error(DSISerialCallback::kReadFailed);
          return;
        }
        goneError = error;
      }
      // A read of 0 bytes: the tty was hung up, as when its USB device goes.
    } else if ((events & (POLLHUP | POLLERR)) == 0) {
      continue;
    }
    // The device is gone: reported now, and again every poll interval while it lasts.
    ++goneReports;
    if (goneReports == 1) {
      if (goneError != 0) {
        LogFailure("read", "the serial port", goneError);
      }
      Log(LogLevel::kError, "The serial port's device is gone (hung up or unplugged).");
    } else {
      Log(LogLevel::kDetail,
          FormatLine("The serial port's device is still gone (report %d).", goneReports).str());
    }
    callback->Error(DSISerialCallback::kDeviceUnreadable);
    if (!PauseWhileGone(stop, notify, callback)) return;
  }
}

bool DSISerialTTY::PauseWhileGone(int stop, int notify, DSISerialCallback* callback) {
  const auto until = std::chrono::steady_clock::now() + options_.pollInterval;
  while (!stopping_.load()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    std::array<pollfd, 2> waits{{{stop, POLLIN, 0}, {notify, POLLIN, 0}}};
    const int ready = ::poll(waits.data(), waits.size(), PollMilliseconds(left));
    if (ready < 0 && errno != EINTR) {
      LogFailure("poll", "the receive thread's wake-up", errno);
      return true;
    }
    if (waits[0].revents != 0) return false;
    if (waits[1].revents != 0) {
      std::uint64_t count = 0;
      if (::read(notify, &count, sizeof count) < 0 && errno != EAGAIN) {
        LogFailure("read", "the receive thread's wake-up", errno);
      }
      DeliverWriteFailures(callback);
    }
  }
  return false;
}

void DSISerialTTY::DeliverWriteFailures(DSISerialCallback* callback) {
  for (int pending = pendingWriteFailures_.exchange(0); pending > 0; --pending) {
    if (stopping_.load()) return;
    callback->Error(DSISerialCallback::kWriteFailed);
  }
}

void DSISerialTTY::Log(int level, const std::string& line) const {
  if (log_) log_(level, line);
}

void DSISerialTTY::LogFailure(const char* call, const std::string& subject, int error) const {
  Log(LogLevel::kError,
      SystemCallFailure(call, subject, static_cast<unsigned long>(error)) + OpenFailureHint(error));
}

}  // namespace Pellux
