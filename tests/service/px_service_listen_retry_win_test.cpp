// The service when another process holds the name of its pipe (created before the service
// started): the real PXService in this process reports why to the event log (its ReportEventA
// calls, caught through this program's import table) and to the activity log, tries again every
// 10 s of its clock (a virtual one here), takes the name within a try of its being freed and
// says so, and a stop ends the tries. Wine does not refuse the first-instance flag beside
// another's instance; the listener then sees the other's instance limit, so the squatters here
// are refused on Wine and on Windows alike.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/px_service_win.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_device_bus.h"
#include "tests/service/import_patch_win.h"
#include "tests/support/eventually.h"
#include "tests/ui/channel/named_pipe_test_support_win.h"
#include "tests/ui/log/memory_log_folder.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class RetryingService final : public PXService {
 public:
  using PXService::Init;
  using PXService::OnStop;
  using PXService::PXService;
  using PXService::Run;
};

struct Report {
  WORD type;
  DWORD id;
  std::vector<std::string> strings;
  bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Report& report) {
  out << "{type " << report.type << ", id " << report.id << ":";
  for (const std::string& text : report.strings) out << " \"" << text << "\"";
  return out << "}";
}

// The reports the service made while the fixture's patch was in place.
std::mutex g_mutex;
std::vector<Report> g_reports;

BOOL WINAPI RecordReportEventA(HANDLE /*log*/, WORD type, WORD /*category*/, DWORD id,
                               PSID /*user*/, WORD count, DWORD /*dataSize*/, LPCSTR* strings,
                               LPVOID /*data*/) {
  Report report{type, id, {}};
  for (WORD i = 0; i < count; ++i) report.strings.emplace_back(strings[i]);
  std::lock_guard guard(g_mutex);
  g_reports.push_back(report);
  return TRUE;
}

std::string UniqueName() {
  static std::atomic<int> made{0};
  return "\\\\.\\pipe\\pellux-retry-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++made);
}

// Makes the first instance of `name` before the service, with `limit` instances.
HANDLE Squat(const std::string& name, DWORD limit) {
  return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, limit, 1024, 1024, 0,
                          nullptr);
}

// Asked without connecting, which the listener would log as a client gone without a message.
bool NothingListensAt(const std::string& name) {
  return WaitNamedPipeA(name.c_str(), 1) == 0 && GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

class PelluxServiceListenRetry : public testing::Test {
 protected:
  PelluxServiceListenRetry() {
    std::lock_guard guard(g_mutex);
    g_reports.clear();
  }
  ~PelluxServiceListenRetry() override { StopService(); }

  void StartService() {
    ASSERT_TRUE(reporting_.Patched());
    ASSERT_TRUE(service_.Interface().Activity().Open());
    running_ = std::thread([this] { EXPECT_TRUE(service_.Run()); });
  }
  void StopService() {
    if (!running_.joinable()) return;
    service_.OnStop();
    running_.join();
  }

  static std::vector<Report> Reports() {
    std::lock_guard guard(g_mutex);
    return g_reports;
  }
  // The reports, once there are `count` of them (or after a while).
  static std::vector<Report> ReportsWhen(std::size_t count) {
    Eventually([&] { return Reports().size() >= count; }, 10s);
    return Reports();
  }
  std::string Log() const {
    const auto names = logs_.Names();
    return names.empty() ? std::string() : logs_.Contents(names.back());
  }

  // The line the service logs when the listener cannot start, and the event log's reason.
  std::string FailureLine() const { return "UI: Cannot listen for UI messages: "; }
  std::string GivingReason() const {
    return "UI: No UI reaches the service until it listens at " + name_ +
           "; trying again every 10 s";
  }
  std::string UpLine() const {
    return "UI: The UI channel is up: listening for UI messages at " + name_;
  }
  // Whether `reason` is what the listener says of a name another process made first.
  bool IsSquattedReason(const std::string& reason) const {
    return reason.rfind("CreateNamedPipeA(" + name_ + ") failed: error ", 0) == 0 ||
           reason.rfind(name_ + " was made by another process first (it allows ", 0) == 0;
  }

  const std::string name_ = UniqueName();
  const ImportPatch reporting_{"advapi32.dll", "ReportEventA",
                               reinterpret_cast<void*>(&RecordReportEventA)};
  VirtualClock clock_;
  // The activity log on, as the service reads it when it is made.
  struct Settings {
    Settings() {
      store.WriteNumber("Tracker", "LogActivity", 1);
      store.WriteNumber("Tracker", "MaxLogDays", 1);
    }
    MemorySettingsStore store;
  } settings_;
  VirtualDeviceBus bus_;
  MemoryLogFolder* folder_ = new MemoryLogFolder(clock_, "C:\\logs");
  MemoryLogFolder& logs_ = *folder_;
  RetryingService service_{{.settings = settings_.store,
                            .devices = bus_,
                            .clock = clock_,
                            .programFolder = std::string("Z:") + PELLUX_SOURCE_DIR,
                            .pipeName = name_,
                            .logFolder = std::unique_ptr<LogFolder>(folder_)}};
  std::thread running_;
};

TEST_F(PelluxServiceListenRetry, ASquattedPipeIsReportedRetriedEveryTenSecondsAndTakenOnceFree) {
  HANDLE squatter = Squat(name_, 1);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  StartService();

  // The event log's error, with the system's reason, once.
  const auto first = ReportsWhen(1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(first[0].id, 109u);
  ASSERT_EQ(first[0].strings.size(), 2u);
  EXPECT_EQ(first[0].strings[0], "Pellux");
  const std::string reason = first[0].strings[1];
  EXPECT_TRUE(IsSquattedReason(reason)) << reason;
  // And the activity log's lines: the listener's reason and the service's word on it.
  ASSERT_TRUE(Eventually([&] { return Log().find(GivingReason()) != std::string::npos; }, 10s))
      << Log();
  EXPECT_NE(Log().find(FailureLine() + reason), std::string::npos) << Log();

  // A try after 10 s finds the name still taken: neither report nor line again.
  clock_.Advance(10s);
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Count(Log(), FailureLine()), 1u) << Log();
  EXPECT_EQ(Count(Log(), GivingReason()), 1u) << Log();

  // The name is freed: the next try, and not one before, takes it.
  clock_.Advance(9s);
  CloseHandle(squatter);
  clock_.Advance(900ms);
  EXPECT_TRUE(NothingListensAt(name_)) << "tried again before 10 s";
  clock_.Advance(100ms);
  EXPECT_EQ(Reports(),
            (std::vector<Report>{first[0], {EVENTLOG_INFORMATION_TYPE, 110, {"Pellux"}}}));
  EXPECT_EQ(Count(Log(), UpLine()), 1u) << Log();

  // The UI channel is up: a status poll is answered.
  ReplyPipe ui(UniquePipeName("retry-ui"));
  ASSERT_TRUE(ui.started);
  ASSERT_TRUE(WriteMessage(name_, "T " + ui.name));
  ASSERT_TRUE(ui.messages.WaitFor(1)) << Log();
  EXPECT_EQ(ui.messages.At(0).rfind("T", 0), 0u) << ui.messages.At(0);

  StopService();
  EXPECT_TRUE(NothingListensAt(name_));
}

// The stop closes the UI channel (and its watchdog) before the engine hears "shutdown": no UI
// message can come between them and start a session again.
TEST_F(PelluxServiceListenRetry, TheStopClosesTheUiChannelBeforeTheEngineShutsDown) {
  StartService();
  ASSERT_TRUE(Eventually([&] {
    return Log().find("Processing action 'init'") != std::string::npos;
  })) << Log();
  StopService();
  const std::string log = Log();
  const auto closed = log.find("UI: The UI channel is closed");
  const auto shutdown = log.find("Processing action 'shutdown'");
  ASSERT_NE(closed, std::string::npos) << log;
  ASSERT_NE(shutdown, std::string::npos) << log;
  EXPECT_LT(closed, shutdown) << log;
  EXPECT_EQ(log.find("Processing action", shutdown + 1), std::string::npos)
      << "nothing after the shutdown\n"
      << log;
  EXPECT_TRUE(NothingListensAt(name_));
}

// A stop that comes before service main has handed "init" leaves the engine shut down.
TEST_F(PelluxServiceListenRetry, AStopBeforeTheFirstSessionStartsNone) {
  StartService();
  StopService();
  const std::string log = Log();
  const auto shutdown = log.find("Processing action 'shutdown'");
  ASSERT_NE(shutdown, std::string::npos) << log;
  EXPECT_EQ(log.find("Processing action", shutdown + 1), std::string::npos) << log;
}

TEST_F(PelluxServiceListenRetry, AStopEndsTheTries) {
  // A name made first with no limit of instances: Wine lets the service add its own beside it.
  HANDLE squatter = Squat(name_, PIPE_UNLIMITED_INSTANCES);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  StartService();
  const auto reports = ReportsWhen(1);
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_EQ(reports[0].strings.size(), 2u);
  EXPECT_TRUE(IsSquattedReason(reports[0].strings[1])) << reports[0];

  const auto start = std::chrono::steady_clock::now();
  StopService();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the stop waits for no try";
  CloseHandle(squatter);
  clock_.Advance(30s);
  EXPECT_TRUE(NothingListensAt(name_)) << "tried again after the stop";
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Count(Log(), UpLine()), 0u) << Log();
}

TEST_F(PelluxServiceListenRetry, AServiceThatListensAtOnceReportsNothingOfIt) {
  StartService();
  ASSERT_TRUE(Eventually([&] { return !NothingListensAt(name_); }, 10s));
  clock_.Advance(10s);
  StopService();
  EXPECT_TRUE(Reports().empty()) << ::testing::PrintToString(Reports());
  EXPECT_EQ(Log().find(FailureLine()), std::string::npos) << Log();
  EXPECT_EQ(Log().find(UpLine()), std::string::npos) << Log();
}

TEST_F(PelluxServiceListenRetry, ALogFolderThatIsRefusedIsReportedAndLoggingStaysOff) {
  ASSERT_TRUE(reporting_.Patched());
  logs_.Fail(MemoryLogFolder::Call::kCreate, ERROR_ACCESS_DENIED);
  service_.Init();
  EXPECT_FALSE(service_.Interface().Activity().IsOpen());
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u) << ::testing::PrintToString(reports);
  EXPECT_EQ(reports[0],
            (Report{EVENTLOG_WARNING_TYPE, 111, {"Pellux", "memory call 4 failed: code 5"}}));
  EXPECT_TRUE(logs_.Names().empty());
  // Once the folder is fine, the service starts without a report.
  logs_.Fail(MemoryLogFolder::Call::kCreate, 0);
  service_.Init();
  EXPECT_TRUE(service_.Interface().Activity().IsOpen());
  EXPECT_EQ(Reports().size(), 1u);
}

}  // namespace
}  // namespace Pellux
