// DSISerialTTY on pseudo-terminals: the transport contract, and what a tty adds to it (the line
// settings read back, exclusivity, the descriptor's flags, hostile device lists).

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/dsi_serial_tty_linux.h"
#include "tests/device/dsi_serial_contract.h"
#include "tests/device/pty_pair.h"
#include "tests/device/recording_receiver.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

UsbSerialPort StickAt(const std::string& node, std::string serial = "4021337") {
  UsbSerialPort port;
  port.node = node;
  port.vendorId = 0x10C4;
  port.productId = 0x84C4;
  port.serial = std::move(serial);
  port.product = "ANT USB Stick";
  return port;
}

// The contract's rig: a port list whose position 1 is a pseudo-terminal (position 0 a port
// that is not there), the test holding the far end.
class PtyRig {
 public:
  PtyRig()
      : pty_(std::make_unique<PtyPair>()), transport_([this] { return Ports(); }, lines_.Sink()) {}

  DSISerial& Transport() { return transport_; }
  static std::uint8_t DeviceNumber() { return 1; }
  static std::uint32_t Baud() { return 50000; }
  void FarEndSend(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard guard(mutex_);
    pty_->Send(bytes);
  }
  std::vector<std::uint8_t> FarEndReceive(std::size_t count, std::chrono::milliseconds timeout) {
    const PtyPair* pty = nullptr;
    {
      std::lock_guard guard(mutex_);
      pty = pty_.get();
    }
    return pty->Receive(count, timeout);
  }
  void Unplug() {
    std::lock_guard guard(mutex_);
    pty_->CloseMaster();
  }
  void Replug() {
    std::lock_guard guard(mutex_);
    pty_ = std::make_unique<PtyPair>();
  }

 private:
  std::vector<UsbSerialPort> Ports() {
    std::lock_guard guard(mutex_);
    return {StickAt("/dev/pellux-absent-tty"), StickAt(pty_->SlavePath())};
  }

  std::mutex mutex_;
  std::unique_ptr<PtyPair> pty_;
  CollectedLines lines_;
  DSISerialTTY transport_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Pty, DSISerialContractTest, ::testing::Types<PtyRig>);

// ---------------------------------------------------------------------------------------------

class TtyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.Ready()); }

  std::unique_ptr<DSISerialTTY> Make(std::vector<UsbSerialPort> ports,
                                     DSISerialTTY::Options options = {}) {
    return std::make_unique<DSISerialTTY>([ports] { return ports; }, lines.Sink(), options);
  }
  std::unique_ptr<DSISerialTTY> MakeOnPty(DSISerialTTY::Options options = {}) {
    return Make({StickAt(pty.SlavePath())}, options);
  }

  PtyPair pty;
  CollectedLines lines;
  RecordingReceiver receiver;
};

TEST_F(TtyTest, SetsRaw8N1AndTheExactCustomRateAndReadsItBack) {
  auto transport = MakeOnPty();
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  ASSERT_TRUE(transport->Open()) << lines.Joined();
  EXPECT_EQ(transport->ActualBaud(), 50000u);
  EXPECT_TRUE(lines.Has({"Opened serial port " + pty.SlavePath(), "at 50000 baud"}))
      << lines.Joined();

  const auto settings = pty.SlaveSettings();
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->c_ospeed, 50000u);
  EXPECT_EQ(settings->c_ispeed, 50000u);
  EXPECT_EQ(settings->c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(settings->c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(settings->c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(settings->c_cflag & CREAD, 0u);
  EXPECT_NE(settings->c_cflag & CLOCAL, 0u);
  EXPECT_NE(settings->c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(settings->c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(settings->c_oflag & OPOST, 0u);
  EXPECT_EQ(settings->c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
}

TEST_F(TtyTest, AnyRateIsSetExactly) {
  auto transport = MakeOnPty();
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(123457, 0));
  ASSERT_TRUE(transport->Open());
  EXPECT_EQ(transport->ActualBaud(), 123457u);
  EXPECT_EQ(pty.SlaveSettings()->c_ospeed, 123457u);
}

// In a child without CAP_SYS_ADMIN, which TIOCEXCL does not hold back: 0 when the open was
// refused as busy, 1 when it succeeded, 2 for any other failure.
int OpenWithoutAdminRights(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, 2> data{};
    if (::syscall(SYS_capget, &header, data.data()) == 0) {
      data[0].effective &= ~(1u << CAP_SYS_ADMIN);
      data[0].permitted &= ~(1u << CAP_SYS_ADMIN);
      data[0].inheritable &= ~(1u << CAP_SYS_ADMIN);
      ::syscall(SYS_capset, &header, data.data());
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ::_exit(fd >= 0 ? 1 : (errno == EBUSY ? 0 : 2));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(TtyTest, TheOpenPortIsExclusive) {
  auto first = MakeOnPty();
  first->SetCallback(&receiver);
  ASSERT_TRUE(first->Init(50000, 0));
  ASSERT_TRUE(first->Open());
  // TIOCEXCL: another program is refused.
  EXPECT_EQ(OpenWithoutAdminRights(pty.SlavePath()), 0);
  // The lock: a second uploader is refused even as root.
  RecordingReceiver other;
  auto second = MakeOnPty();
  second->SetCallback(&other);
  ASSERT_TRUE(second->Init(50000, 0));
  EXPECT_FALSE(second->Open());
  EXPECT_TRUE(lines.Has({"flock(" + pty.SlavePath() + ") failed", "in use by another program"}))
      << lines.Joined();

  // Closed, the port is free for both again.
  first->Close(false);
  EXPECT_EQ(OpenWithoutAdminRights(pty.SlavePath()), 1);
  EXPECT_TRUE(second->Open());
}

TEST_F(TtyTest, TheDescriptorIsClosedOnExec) {
  auto transport = MakeOnPty();
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  ASSERT_TRUE(transport->Open());
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    if (error || target.string() != pty.SlavePath()) continue;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "fd " << fd;
    ++found;
  }
  EXPECT_EQ(found, 1);
}

TEST_F(TtyTest, AWriteThatFindsNoRoomWithinTheTimeOutFails) {
  DSISerialTTY::Options options;
  options.writeTimeout = 200ms;
  auto transport = MakeOnPty(options);
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  ASSERT_TRUE(transport->Open());
  // The far end reads nothing: the pty's buffers fill up.
  const std::vector<std::uint8_t> lots(1 << 20, 0x55);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(transport->WriteBytes(lots.data(), lots.size()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_TRUE(receiver.WaitForErrors(DSISerialCallback::kWriteFailed, 1, 2s));
  EXPECT_TRUE(lines.Has({"write(" + pty.SlavePath() + ") failed", "ETIMEDOUT"})) << lines.Joined();
}

TEST_F(TtyTest, CloseWakesAWriteThatWaitsForRoom) {
  auto transport = MakeOnPty();
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  ASSERT_TRUE(transport->Open());
  const std::vector<std::uint8_t> lots(1 << 20, 0x55);
  bool written = true;
  std::thread writer([&] { written = transport->WriteBytes(lots.data(), lots.size()); });
  std::this_thread::sleep_for(200ms);
  const auto start = std::chrono::steady_clock::now();
  transport->Close(false);
  writer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(written);
  EXPECT_EQ(receiver.Count(DSISerialCallback::kWriteFailed), 0u);
}

TEST_F(TtyTest, DescribesItsPortsAndTheOpenOne) {
  auto transport = Make({StickAt(pty.SlavePath(), "0012345abc"), StickAt("/dev/null", "ABC")});
  std::string product;
  std::string serial;
  EXPECT_TRUE(transport->GetDeviceUSBInfo(1, product, serial));
  EXPECT_EQ(product, "ANT USB Stick");
  EXPECT_EQ(serial, "ABC");
  EXPECT_FALSE(transport->GetDeviceUSBInfo(2, product, serial));
  std::uint16_t productId = 0;
  EXPECT_FALSE(transport->GetDevicePID(productId));
  EXPECT_EQ(transport->GetDeviceSerialNumber(), 0u);
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  ASSERT_TRUE(transport->Open());
  EXPECT_EQ(transport->GetDeviceSerialNumber(), 12345u);
  EXPECT_TRUE(transport->GetDevicePID(productId));
  EXPECT_EQ(productId, 0x84C4);
  EXPECT_EQ(transport->OpenNode(), pty.SlavePath());
}

TEST_F(TtyTest, AutoInitTakesTheFirstStickThatOpens) {
  UsbSerialPort bridge = StickAt(pty.SlavePath());
  bridge.product = "CP2102 USB to UART Bridge Controller";
  PtyPair other;
  auto transport = Make({bridge, StickAt("/dev/pellux-absent-tty"), StickAt(other.SlavePath()),
                         StickAt(pty.SlavePath())});
  ASSERT_TRUE(transport->AutoInit());
  EXPECT_EQ(transport->GetDeviceNumber(), 2);
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Open());
  EXPECT_EQ(transport->ActualBaud(), 50000u);

  auto none = Make({bridge});
  EXPECT_FALSE(none->AutoInit());
}

TEST_F(TtyTest, ANodeThatVanishedBeforeTheOpeningIsReported) {
  PtyPair gone;
  const std::string path = gone.SlavePath();
  auto transport = Make({StickAt(path)});
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  gone.CloseMaster();  // listed, then unplugged before the opening
  EXPECT_FALSE(transport->Open());
  EXPECT_TRUE(lines.Has({"open(" + path + ") failed", "ENOENT", "not found"})) << lines.Joined();
  const std::uint8_t byte = 1;
  EXPECT_FALSE(transport->WriteBytes(&byte, 1));
  EXPECT_TRUE(receiver.Errors().empty());
}

TEST_F(TtyTest, ANodeThatIsNoTerminalIsRefused) {
  auto transport = Make({StickAt("/dev/null"), StickAt("")});
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  EXPECT_FALSE(transport->Open());
  EXPECT_TRUE(lines.Has({"isatty(/dev/null) failed", "ENOTTY"})) << lines.Joined();
  ASSERT_TRUE(transport->Init(50000, 1));
  EXPECT_FALSE(transport->Open());
  ASSERT_TRUE(transport->Init(50000, 2));
  EXPECT_FALSE(transport->Open());
  EXPECT_TRUE(lines.Has({"No serial port number 2"})) << lines.Joined();
}

TEST_F(TtyTest, AnEmptyListOpensNothing) {
  auto transport = std::make_unique<DSISerialTTY>(UsbSerialPortLister{}, DeviceLog{});
  transport->SetCallback(&receiver);
  EXPECT_FALSE(transport->AutoInit());
  ASSERT_TRUE(transport->Init(50000, 0));
  EXPECT_FALSE(transport->Open());
}

TEST(TtyReadFailureTest, TellsAGoneDeviceFromAFailedRead) {
  using Failure = DSISerialTTY::ReadFailure;
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(EINTR), Failure::Retry);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(EAGAIN), Failure::Retry);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(EIO), Failure::DeviceGone);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(ENXIO), Failure::DeviceGone);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(ENODEV), Failure::DeviceGone);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(EBADF), Failure::Fatal);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(EFAULT), Failure::Fatal);
  EXPECT_EQ(DSISerialTTY::ClassifyReadFailure(ENOMEM), Failure::Fatal);
}

TEST(TtyOpenFailureTest, TheHintNamesWhatTheServiceUnitAllows) {
  struct Row {
    int error;
    std::vector<std::string> parts;  // each in the hint; none: no hint
  };
  const Row rows[] = {
      {EACCES, {"group pellux", "60-pellux.rules", "udev line", "SerialPort"}},
      {EPERM, {"ttyUSB and ttyACM", "DeviceAllow", "drop-in", "SerialPort"}},
      {ENOENT, {"not found"}},
      {EBUSY, {"in use"}},
      {EIO, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    const std::string hint = DSISerialTTY::OpenFailureHint(row.error);
    EXPECT_EQ(hint.empty(), row.parts.empty()) << hint;
    for (const std::string& part : row.parts) {
      EXPECT_NE(hint.find(part), std::string::npos) << part << " in " << hint;
    }
    // A group the unit cannot give would not help.
    EXPECT_EQ(hint.find("dialout"), std::string::npos) << hint;
  }
}

TEST_F(TtyTest, AHungUpPortIsReportedUnreadableNotFailed) {
  auto transport = MakeOnPty();
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  ASSERT_TRUE(transport->Open());
  pty.Send({1, 2, 3});
  ASSERT_TRUE(receiver.WaitForBytes(3, 2s));
  pty.CloseMaster();
  ASSERT_TRUE(receiver.WaitForErrors(DSISerialCallback::kDeviceUnreadable, 2, 3s));
  EXPECT_EQ(receiver.Count(DSISerialCallback::kReadFailed), 0u);
  EXPECT_TRUE(lines.Has({"device is gone"})) << lines.Joined();
  EXPECT_TRUE(lines.Has({"still gone (report 2)"})) << lines.Joined();
}

}  // namespace
}  // namespace Pellux
