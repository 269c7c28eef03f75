// The doctor's Linux probes against real things: files with owners and modes, the user
// database, a process holding a pseudo-terminal open, a loopback HTTP server that refuses,
// hangs or answers, and systemd's manager mocked on a private system bus. Runs as root (it
// gives files owners).

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/mocked_system_bus_linux.h"
#include "tools/pelluxctl/doctor/access_rule.h"
#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "tools/pelluxctl/doctor/process_probe.h"
#include "tools/pelluxctl/doctor/server_probe.h"
#include "tools/pelluxctl/doctor/service_checks.h"
#include "tools/pelluxctl/doctor/service_probe.h"
#include "tools/pelluxctl/doctor/station_checks.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = "/tmp/pellux-doctor-XXXXXX";
    path_ = mkdtemp(pattern.data());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() { std::filesystem::remove_all(path_); }
  [[nodiscard]] std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

TEST(DoctorLinuxFiles, StatusGivesOwnerGroupModeAndKind) {
  TempFolder folder;
  const std::string file = folder.Path("settings.json");
  Write(file, "{}");
  ASSERT_EQ(chown(file.c_str(), 998, 997), 0);
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  const auto probe = FileProbe::CreateForPlatform();
  const FileFacts facts = probe->Status(file);
  EXPECT_EQ(facts.state, FileFacts::State::kPresent);
  EXPECT_EQ(facts.owner, 998U);
  EXPECT_EQ(facts.group, 997U);
  EXPECT_EQ(facts.mode, 0640U);
  EXPECT_TRUE(facts.regular);
  EXPECT_FALSE(facts.characterDevice);

  const FileFacts null = probe->Status("/dev/null");
  EXPECT_TRUE(null.characterDevice);
  EXPECT_EQ(null.major, 1U);
  EXPECT_EQ(null.minor, 3U);
  EXPECT_EQ(probe->Status(folder.Path("none")).state, FileFacts::State::kMissing);
  // A path through a file is as missing as one through no folder.
  EXPECT_EQ(probe->Status(file + "/x").state, FileFacts::State::kMissing);
}

TEST(DoctorLinuxFiles, ReadTakesSmallRegularFilesOnly) {
  TempFolder folder;
  const std::string file = folder.Path("small");
  Write(file, "twelve bytes");
  const std::string fifo = folder.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto probe = FileProbe::CreateForPlatform();
  struct Case {
    const char* what;
    std::string path;
    std::size_t maxBytes;
    FileText::State state;
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"fits", file, 12, FileText::State::kRead, "twelve bytes", ""},
      {"too large", file, 11, FileText::State::kTooLarge, "", ""},
      {"missing", folder.Path("none"), 10, FileText::State::kMissing, "", ""},
      // Without a writer a FIFO would block a reader that waited for one.
      {"fifo", fifo, 10, FileText::State::kFailed, "", "is no regular file"},
      {"folder", folder.Path(""), 10, FileText::State::kFailed, "", "is no regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FileText text = probe->Read(c.path, c.maxBytes);
    EXPECT_EQ(text.state, c.state);
    EXPECT_EQ(text.text, c.text);
    EXPECT_NE(text.error.find(c.error), std::string::npos) << text.error;
  }
}

TEST(DoctorLinuxFiles, SpaceOfAFolderOrTheCallThatFailed) {
  TempFolder folder;
  const auto probe = FileProbe::CreateForPlatform();
  const SpaceFacts space = probe->Space(folder.Path(""));
  EXPECT_TRUE(space.measured) << space.error;
  EXPECT_GT(space.total, 0U);
  EXPECT_LE(space.available, space.total);
  const SpaceFacts none = probe->Space(folder.Path("none"));
  EXPECT_FALSE(none.measured);
  EXPECT_NE(none.error.find("statvfs(" + folder.Path("none") + ") failed: errno 2 "),
            std::string::npos)
      << none.error;
}

TEST(DoctorLinuxAccounts, RootAndAccountsThatAreNotThere) {
  const auto probe = AccountProbe::CreateForPlatform();
  const UserFacts root = probe->User("root");
  ASSERT_EQ(root.state, UserFacts::State::kFound) << root.error;
  EXPECT_EQ(root.uid, 0U);
  EXPECT_NE(std::ranges::find(root.groups, 0U), root.groups.end());
  EXPECT_EQ(probe->User("pellux-doctor-nobody").state, UserFacts::State::kMissing);
  const GroupFacts group = probe->Group("root");
  ASSERT_EQ(group.state, GroupFacts::State::kFound) << group.error;
  EXPECT_EQ(group.gid, 0U);
  EXPECT_EQ(probe->Group("pellux-doctor-nogroup").state, GroupFacts::State::kMissing);
}

TEST(DoctorLinuxAccounts, TheServiceUserMayOpenAFileByItsOwnerGroupAndMode) {
  TempFolder folder;
  const std::string port = folder.Path("port");
  Write(port, "");
  const auto files = FileProbe::CreateForPlatform();
  UserFacts service;
  service.state = UserFacts::State::kFound;
  service.uid = 998;
  service.gid = 998;
  service.groups = {998, 20};
  struct Case {
    std::uint32_t owner;
    std::uint32_t group;
    mode_t mode;
    bool may;
  };
  const Case cases[] = {
      {0, 998, 0660, true}, {0, 998, 0640, false},   {0, 20, 0660, true}, {0, 5, 0660, false},
      {998, 0, 0600, true}, {998, 998, 0060, false}, {0, 0, 0666, true},  {0, 0, 0664, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.owner) + ":" + std::to_string(c.group) + " " + ModeText(c.mode));
    ASSERT_EQ(chown(port.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(port.c_str(), c.mode), 0);
    EXPECT_EQ(UserMayOpen(files->Status(port), service, kReadWriteAccess), c.may);
  }
}

// A child process ("sleep") that holds a pseudo-terminal's device open, as a terminal program
// holds a base station's port.
class PortHolder {
 public:
  PortHolder() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    port_ = ptsname(master_);
    // Inherited by the child, closed here once it runs.
    const int held = open(port_.c_str(), O_RDWR | O_NOCTTY);
    if (held < 0) return;
    std::array<char*, 3> arguments{const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
    if (posix_spawnp(&child_, "sleep", nullptr, nullptr, arguments.data(), environ) != 0) {
      child_ = 0;
    }
    close(held);
  }
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  ~PortHolder() {
    if (child_ > 0) {
      kill(child_, SIGTERM);
      waitpid(child_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  [[nodiscard]] pid_t Child() const { return child_; }
  [[nodiscard]] const std::string& Port() const { return port_; }

 private:
  int master_ = -1;
  pid_t child_ = 0;
  std::string port_;
};

// Whether `pid` runs `program` yet (a spawned child runs the spawner's image for a moment).
bool Runs(pid_t pid, const std::string& program) {
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < until) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name == program) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

TEST(DoctorLinuxProcesses, FindsTheProcessThatHoldsThePortAndNamesIt) {
  PortHolder holder;
  ASSERT_GT(holder.Child(), 0);
  ASSERT_TRUE(Runs(holder.Child(), "sleep"));
  const auto files = FileProbe::CreateForPlatform();
  const auto processes = ProcessProbe::CreateForPlatform();
  const FileFacts port = files->Status(holder.Port());
  ASSERT_TRUE(port.characterDevice);

  const ProcessListing holders = processes->Holders(holder.Port());
  ASSERT_TRUE(holders.listed) << holders.error;
  ASSERT_EQ(holders.processes.size(), 1U);
  EXPECT_EQ(holders.processes[0].pid, holder.Child());
  EXPECT_EQ(holders.processes[0].name, "sleep");
  EXPECT_EQ(holders.processes[0].command, "sleep 30");

  DoctorSettings settings;
  settings.serialPort = holder.Port();
  const DoctorCheck check = CheckPortHolders(settings, {}, *files, *processes);
  EXPECT_EQ(check.status, DoctorStatus::kFail);
  const std::string pid = std::to_string(holder.Child());
  EXPECT_EQ(check.found, holder.Port() + " is held open by sleep (pid " + pid + ": sleep 30)");
  EXPECT_EQ(check.fix, "end that program, or: sudo kill " + pid);

  const ProcessListing named = processes->Named("sleep");
  ASSERT_TRUE(named.listed);
  EXPECT_NE(std::ranges::find(named.processes, static_cast<std::int64_t>(holder.Child()),
                              &ProcessFacts::pid),
            named.processes.end());
  EXPECT_TRUE(processes->Named("pellux-no-such-program").processes.empty());
}

TEST(DoctorLinuxProcesses, APortNoOneHoldsIsFree) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string port = ptsname(master);
  const auto files = FileProbe::CreateForPlatform();
  const auto processes = ProcessProbe::CreateForPlatform();
  DoctorSettings settings;
  settings.serialPort = port;
  const DoctorCheck check = CheckPortHolders(settings, {}, *files, *processes);
  EXPECT_EQ(check.status, DoctorStatus::kOk) << check.found;
  EXPECT_EQ(check.found, port + " is open in no process");
  close(master);
}

// A process holding, in a devpts instance of its own (as a container's console is), the
// pseudo-terminal with the same number as `number` on this one. Needs root; Ready() says
// whether it got there.
class OtherInstanceHolder {
 public:
  explicit OtherInstanceHolder(unsigned number) {
    std::array<int, 2> ready{};
    if (pipe(ready.data()) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      close(ready[0]);
      char folder[] = "/tmp/pellux-devpts-XXXXXX";
      if (unshare(CLONE_NEWNS) != 0 ||
          mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mkdtemp(folder) == nullptr ||
          mount("devpts", folder, "devpts", 0, "newinstance,ptmxmode=0666") != 0) {
        _exit(1);
      }
      const std::string ptmx = std::string(folder) + "/ptmx";
      for (unsigned index = 0;; ++index) {
        const int master = open(ptmx.c_str(), O_RDWR | O_NOCTTY);
        int unlock = 0;
        if (master < 0 || ioctl(master, TIOCSPTLCK, &unlock) != 0) _exit(1);
        if (index < number) continue;
        const std::string slave = std::string(folder) + "/" + std::to_string(number);
        if (open(slave.c_str(), O_RDWR | O_NOCTTY) < 0) _exit(1);
        break;
      }
      if (write(ready[1], "r", 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char answer = 0;
    ready_ = child_ > 0 && read(ready[0], &answer, 1) == 1;
    close(ready[0]);
  }
  OtherInstanceHolder(const OtherInstanceHolder&) = delete;
  OtherInstanceHolder& operator=(const OtherInstanceHolder&) = delete;
  ~OtherInstanceHolder() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  [[nodiscard]] bool Ready() const { return ready_; }
  [[nodiscard]] pid_t Child() const { return child_; }

 private:
  pid_t child_ = 0;
  bool ready_ = false;
};

TEST(DoctorLinuxProcesses, APseudoTerminalOfAnotherDevptsWithTheSameNumberIsNotThePort) {
  PortHolder holder;
  ASSERT_GT(holder.Child(), 0);
  ASSERT_TRUE(Runs(holder.Child(), "sleep"));
  const auto number =
      static_cast<unsigned>(std::stoul(holder.Port().substr(holder.Port().rfind('/') + 1)));
  const OtherInstanceHolder other(number);
  if (!other.Ready()) GTEST_SKIP() << "no devpts instance of our own (needs root)";
  // The other instance's terminal has the very numbers of the port.
  struct stat port {};
  ASSERT_EQ(stat(holder.Port().c_str(), &port), 0);
  bool sameNumbers = false;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(other.Child()) + "/fd")) {
    struct stat theirs {};
    if (stat(entry.path().c_str(), &theirs) == 0 && S_ISCHR(theirs.st_mode)) {
      sameNumbers = sameNumbers || theirs.st_rdev == port.st_rdev;
    }
  }
  ASSERT_TRUE(sameNumbers);

  const ProcessListing holders = ProcessProbe::CreateForPlatform()->Holders(holder.Port());
  ASSERT_TRUE(holders.listed) << holders.error;
  ASSERT_EQ(holders.processes.size(), 1U);
  EXPECT_EQ(holders.processes[0].pid, holder.Child());
}

TEST(DoctorLinuxProcesses, AMissingOrOrdinaryNodeIsSaidNotListed) {
  const auto processes = ProcessProbe::CreateForPlatform();
  const ProcessListing missing = processes->Holders("/dev/pellux-no-such-port");
  EXPECT_FALSE(missing.listed);
  EXPECT_EQ(missing.error.rfind("stat(/dev/pellux-no-such-port) failed: errno 2", 0), 0U)
      << missing.error;
  const ProcessListing file = processes->Holders("/etc/passwd");
  EXPECT_FALSE(file.listed);
  EXPECT_EQ(file.error, "/etc/passwd is no character device");
}

// A loopback TCP server that refuses (nothing listens), hangs (listens, never answers), or
// answers each request with `answer`, keeping the request it read.
class LoopbackServer {
 public:
  enum class Mode { kRefuse, kHang, kAnswer };
  LoopbackServer(Mode mode, std::string answer = {}) : answer_(std::move(answer)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    if (mode == Mode::kRefuse) {
      // The port was just free; closed, it refuses.
      close(listener_);
      listener_ = -1;
      return;
    }
    listen(listener_, 4);
    if (mode == Mode::kAnswer) thread_ = std::thread([this] { Serve(); });
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  ~LoopbackServer() {
    if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
  }
  [[nodiscard]] std::int32_t Port() const { return port_; }
  [[nodiscard]] std::string Request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  void Serve() {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) return;
    std::array<char, 4096> chunk{};
    while (request_.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = read(connection, chunk.data(), chunk.size());
      if (got <= 0) break;
      request_.append(chunk.data(), static_cast<std::size_t>(got));
    }
    (void)!write(connection, answer_.data(), answer_.size());
    close(connection);
  }

  int listener_ = -1;
  std::int32_t port_ = 0;
  std::string answer_;
  std::string request_;
  std::thread thread_;
};

TEST(DoctorLinuxServer, RefusedHangingAndAnsweringServers) {
  const auto probe = ServerProbe::CreateForPlatform();
  {
    LoopbackServer server(LoopbackServer::Mode::kRefuse);
    const ServerAnswer answer = probe->Probe({"127.0.0.1", server.Port(), "/e", ""}, 2000ms);
    EXPECT_EQ(answer.outcome, ServerAnswer::Outcome::kRefused) << answer.detail;
    EXPECT_FALSE(answer.detail.empty());
  }
  {
    LoopbackServer server(LoopbackServer::Mode::kHang);
    const ServerAnswer answer = probe->Probe({"127.0.0.1", server.Port(), "/e", ""}, 200ms);
    EXPECT_EQ(answer.outcome, ServerAnswer::Outcome::kTimedOut) << answer.detail;
  }
  {
    LoopbackServer server(
        LoopbackServer::Mode::kAnswer,
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    const ServerAnswer answer =
        probe->Probe({"127.0.0.1", server.Port(), "/device/tracker/errors", ""}, 2000ms);
    EXPECT_EQ(answer.outcome, ServerAnswer::Outcome::kAnswered) << answer.detail;
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(server.Request().rfind("GET /device/tracker/errors HTTP/1.1\r\n", 0), 0U)
        << server.Request();
  }
}

TEST(DoctorLinuxServer, GoesThroughTheProxyItIsGiven) {
  LoopbackServer proxy(LoopbackServer::Mode::kAnswer,
                       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
  const auto probe = ServerProbe::CreateForPlatform();
  const ServerAnswer answer = probe->Probe(
      {"upload.invalid", 8001, "/errors", "127.0.0.1:" + std::to_string(proxy.Port())}, 2000ms);
  EXPECT_EQ(answer.outcome, ServerAnswer::Outcome::kAnswered) << answer.detail;
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(proxy.Request().rfind("GET http://upload.invalid:8001/errors HTTP/1.1\r\n", 0), 0U)
      << proxy.Request();
}

TEST(DoctorLinuxServer, NamesThatDoNotResolve) {
  const auto probe = ServerProbe::CreateForPlatform();
  EXPECT_EQ(probe->Probe({"doctor.invalid", 80, "/", ""}, 2000ms).outcome,
            ServerAnswer::Outcome::kUnresolved);
  EXPECT_EQ(probe->Probe({"doctor.invalid", 80, "/", "proxy.invalid:3128"}, 2000ms).outcome,
            ServerAnswer::Outcome::kProxyUnresolved);
  // A host no URL can hold is refused before any request.
  const ServerAnswer refused = probe->Probe({"a b", 80, "/", ""}, 2000ms);
  EXPECT_EQ(refused.outcome, ServerAnswer::Outcome::kFailed);
  EXPECT_FALSE(refused.detail.empty());
}

class DoctorLinuxService : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bus.Ready()); }

  // Sets the unit's text properties on the mocked manager.
  void SetUnit(const std::string& unit, const char* active, const char* file) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int result = sd_bus_call_method(
        bus.Bus(), "org.freedesktop.systemd1", SystemdUnitObject(unit).c_str(), kMock,
        "UpdateProperties", &error, nullptr, "sa{sv}", "org.freedesktop.systemd1.Unit", 2,
        "ActiveState", "s", active, "UnitFileState", "s", file);
    EXPECT_GE(result, 0) << (error.message != nullptr ? error.message : "");
    sd_bus_error_free(&error);
  }

  MockedSystemBus bus{"doctor", "systemd", "org.freedesktop.systemd1"};
};

TEST_F(DoctorLinuxService, AUnitWithoutAFileIsNotFound) {
  const auto probe = ServiceProbe::CreateForPlatform();
  const UnitFacts facts = probe->Unit("pellux.service");
  ASSERT_TRUE(facts.reached) << facts.error;
  EXPECT_EQ(facts.loadState, "not-found");
  EXPECT_EQ(facts.activeState, "inactive");
  const DoctorCheck check = CheckServiceUnit(*probe);
  EXPECT_EQ(check.status, DoctorStatus::kFail);
  EXPECT_EQ(check.fix, "install the pellux package");
  EXPECT_NE(bus.Calls().find("LoadUnit"), std::string::npos) << bus.Calls();
}

TEST_F(DoctorLinuxService, TheUnitsStatesAsTheManagerHasThem) {
  ASSERT_TRUE(bus.AddSystemdUnit("pellux.service"));
  const auto probe = ServiceProbe::CreateForPlatform();
  struct Case {
    const char* active;
    const char* file;
    DoctorStatus status;
  };
  const Case cases[] = {
      {"inactive", "disabled", DoctorStatus::kFail},
      {"failed", "enabled", DoctorStatus::kFail},
      {"activating", "enabled", DoctorStatus::kWarn},
      {"active", "enabled", DoctorStatus::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.active) + " " + c.file);
    SetUnit("pellux.service", c.active, c.file);
    const UnitFacts facts = probe->Unit("pellux.service");
    ASSERT_TRUE(facts.reached) << facts.error;
    EXPECT_EQ(facts.loadState, "loaded");
    EXPECT_EQ(facts.activeState, c.active);
    EXPECT_EQ(facts.unitFileState, c.file);
    EXPECT_EQ(CheckServiceUnit(*probe).status, c.status);
  }
}

TEST(DoctorLinuxServiceWithoutBus, SaysWhyTheManagerCouldNotBeAsked) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pellux-doctor-bus", 1);
  const auto probe = ServiceProbe::CreateForPlatform();
  const UnitFacts facts = probe->Unit("pellux.service");
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  EXPECT_FALSE(facts.reached);
  EXPECT_NE(facts.error.find("failed: errno 2 (No such file or directory) [ENOENT]"),
            std::string::npos)
      << facts.error;
}

}  // namespace
}  // namespace Pellux
