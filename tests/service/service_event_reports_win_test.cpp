// What the Service class reports to the event log, for the sample service of the switches test
// and for the real uplinker.exe (copies in a folder of their own). Wine's event log takes reports
// but cannot be read back, so they are read from Wine's debug channels instead: the advapi stub's
// note of each ReportEventA (type, category, event id, number of strings) and the event log
// channel's line with each string (the channel cuts a long one, marking it with "...").
// run-under-own-wineserver.sh gives this program a wineserver of its own, so that the service the
// service manager starts writes those lines into the file named by PELLUX_WINE_DEBUG_FILE. Wine's
// RegisterEventSourceA cannot fail: the source that could not be registered is made in this process
// instead (service_reports_in_process_win_test.cpp).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/program_runner_win.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// A service program and the name of its service.
struct ServiceProgram {
  std::string path;
  std::string name;
};

ServiceProgram Sample() {
  return {ProgramBeside("event_reports\\sample_service.exe"), "PelluxSampleService"};
}
ServiceProgram Uplinker() {
  return {ProgramBeside("event_reports\\uplinker.exe"), "Pellux"};
}

struct Report {
  unsigned type = 0;
  unsigned category = 0;
  unsigned id = 0;
  unsigned stringCount = 0;
  std::vector<std::string> strings;
  bool operator==(const Report&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Report& report) {
  out << "{type " << report.type << ", category " << report.category << ", id " << report.id << ", "
      << report.stringCount << " string(s):";
  for (const std::string& text : report.strings) out << " \"" << text << "\"";
  return out << "}";
}

// Every report in the debug lines, in order. A report's strings follow its note on the same
// thread; lines of other threads may come between.
std::vector<Report> ReportsIn(const std::string& lines) {
  static const std::regex kNote(
      R"re(^([0-9a-f]+):fixme:advapi:ReportEventA \([0-9A-Fa-f]+,0x([0-9a-f]+),0x([0-9a-f]+),)re"
      R"re(0x([0-9a-f]+),[0-9A-Fa-f]+,0x([0-9a-f]+),.*)re");
  static const std::regex kString(
      R"re(^([0-9a-f]+):(trace|warn|err):eventlog:ReportEventW L"(.*)"(\.\.\.)?$)re");
  std::vector<Report> reports;
  std::map<std::string, std::size_t> lastOfThread;
  std::istringstream in(lines);
  std::string line;
  std::smatch match;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::regex_match(line, match, kNote)) {
      const auto hex = [&](int group) { return std::stoul(match[group].str(), nullptr, 16); };
      reports.push_back({static_cast<unsigned>(hex(2)),
                         static_cast<unsigned>(hex(3)),
                         static_cast<unsigned>(hex(4)),
                         static_cast<unsigned>(hex(5)),
                         {}});
      lastOfThread[match[1].str()] = reports.size() - 1;
    } else if (std::regex_match(line, match, kString)) {
      const auto found = lastOfThread.find(match[1].str());
      if (found != lastOfThread.end()) reports[found->second].strings.push_back(match[3].str());
    }
  }
  return reports;
}

TEST(EventReportParsing, NotesAndStringsArePairedByThread) {
  const std::string lines =
      "0174:fixme:advapi:ReportEventA (00000000CAFE4242,0x0004,0x0000,0x00000064,"
      "0000000000000000,0x0001,0x00000000,000000000020FBD0,0000000000000000): stub\n"
      "0180:fixme:advapi:ReportEventA (00000000CAFE4242,0x0001,0x0000,0x00000068,"
      "0000000000000000,0x0001,0x00000000,000000000020FBD0,0000000000000000): stub\n"
      "0174:fixme:advapi:ReportEventW (00000000CAFE4242,0x0004,0x0000,0x00000064,...): stub\n"
      "0180:err:eventlog:ReportEventW L\"Other\"...\n"
      "0174:trace:eventlog:ReportEventW L\"Sample\"\n"
      "0190:trace:eventlog:ReportEventW L\"nobody's\"\n"
      "0174:trace:eventlog:ServiceMain starting Event Log Service\n"
      "garbage:fixme:advapi:ReportEventA (zz)\n";
  EXPECT_EQ(ReportsIn(lines),
            (std::vector<Report>{{4, 0, 100, 1, {"Sample"}}, {1, 0, 104, 1, {"Other"}}}));
  EXPECT_TRUE(ReportsIn("").empty());
}

class ServiceEventReports : public testing::Test {
 protected:
  void SetUp() override {
    const char* file = std::getenv("PELLUX_WINE_DEBUG_FILE");
    ASSERT_NE(file, nullptr) << "run this program with scripts/run-under-own-wineserver.sh";
    debugFile_ = file;
    DeleteFileA((Sample().path + ".fail-init").c_str());
  }

  std::string DebugLines() const {
    std::ifstream in(debugFile_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // The reports made since `from` (a length of the debug lines), once there are `count` of them.
  std::vector<Report> ReportsSince(std::size_t from, std::size_t count) const {
    std::vector<Report> reports;
    const auto until = std::chrono::steady_clock::now() + 15s;
    do {
      reports = ReportsIn(DebugLines().substr(from));
      if (reports.size() >= count) break;
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < until);
    return reports;
  }

  static DWORD StateOfService(const ServiceProgram& program) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, program.name.c_str(), SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    const BOOL queried = service != nullptr && QueryServiceStatus(service, &status) != 0;
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return queried ? status.dwCurrentState : 0;
  }

  static bool Control(const ServiceProgram& program, DWORD code) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, program.name.c_str(), SERVICE_USER_DEFINED_CONTROL);
    SERVICE_STATUS status{};
    const bool sent = service != nullptr && ControlService(service, code, &status) != 0;
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return sent;
  }

  std::string debugFile_;
};

constexpr unsigned kInformation = EVENTLOG_INFORMATION_TYPE;
constexpr unsigned kWarning = EVENTLOG_WARNING_TYPE;
constexpr unsigned kError = EVENTLOG_ERROR_TYPE;
// A bridge library missing from the program's folder, reported at each start.
constexpr unsigned kDevicesUnavailable = 113;
// The uplinker's folder here holds no bridge library: the three reports of each start.
constexpr std::size_t kMissingLibraries = 3;

Report Event(unsigned type, unsigned id, const ServiceProgram& program) {
  return {type, 0, id, 1, {program.name}};
}

std::vector<Report> Without(unsigned id, std::vector<Report> reports) {
  std::erase_if(reports, [id](const Report& report) { return report.id == id; });
  return reports;
}

TEST_F(ServiceEventReports, EachStepReportsItsEventWithTheServiceNameAsTheOneString) {
  for (const ServiceProgram& program : {Sample(), Uplinker()}) {
    SCOPED_TRACE(program.path);
    const auto run = [&](const char* switchText) { return RunProgramAt(program.path, switchText); };
    const std::size_t from = DebugLines().size();
    ASSERT_EQ(run("/I").err, "");
    ASSERT_EQ(run("/S").err, "The Pellux Data Uploader service has started.\n");
    ASSERT_EQ(StateOfService(program), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(Control(program, 128)) << "taken silently";
    EXPECT_TRUE(Control(program, 129)) << "an unsupported request";
    EXPECT_EQ(run("/P").err, "");
    // A refused step reports nothing: a second uninstall.
    EXPECT_EQ(run("/U").err, "");
    EXPECT_NE(run("/U").err, "");
    // The stop's report is made on the service's control thread while the /U may already run.
    // The missing libraries' reports have their own test below.
    const std::size_t missing = program.name == "Pellux" ? kMissingLibraries : 0;
    EXPECT_THAT(Without(kDevicesUnavailable, ReportsSince(from, 5 + missing)),
                testing::UnorderedElementsAre(
                    Event(kInformation, 100, program), Event(kInformation, 105, program),
                    Event(kError, 106, program), Event(kInformation, 108, program),
                    Event(kInformation, 101, program)));
  }
}

TEST_F(ServiceEventReports, EachMissingBridgeLibraryIsReportedAtStartWithItsFileAndFolder) {
  const ServiceProgram program = Uplinker();
  const auto run = [&](const char* switchText) { return RunProgramAt(program.path, switchText); };
  const std::size_t from = DebugLines().size();
  ASSERT_EQ(run("/I").err, "");
  ASSERT_EQ(run("/S").err, "The Pellux Data Uploader service has started.\n");
  const std::vector<Report> reports = ReportsSince(from, 2 + kMissingLibraries);
  EXPECT_EQ(run("/U").err, "");
  std::vector<Report> missing;
  for (const Report& report : reports) {
    if (report.id == kDevicesUnavailable) missing.push_back(report);
  }
  ASSERT_EQ(missing.size(), kMissingLibraries);
  const char* files[] = {"DSI_SiUSBXp_3_1.DLL", "DSI_CP210xManufacturing_3_1.dll", "libusb0.dll"};
  for (std::size_t i = 0; i < kMissingLibraries; ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(missing[i].type, kWarning);
    ASSERT_EQ(missing[i].stringCount, 2U);
    ASSERT_EQ(missing[i].strings.size(), 2U);
    EXPECT_EQ(missing[i].strings[0], "Pellux");
    // Wine's channel shows only the beginning of the text: the file, and the folder after it.
    EXPECT_THAT(missing[i].strings[1],
                testing::StartsWith(std::string("Bridge library ") + files[i] + " is not in "));
  }
}

TEST_F(ServiceEventReports, AFailedInitReportsItAndNoStart) {
  const ServiceProgram sample = Sample();
  const auto run = [&](const char* switchText) { return RunProgramAt(sample.path, switchText); };
  const std::size_t from = DebugLines().size();
  ASSERT_EQ(run("/I").err, "");
  std::ofstream(sample.path + ".fail-init") << "\n";
  // /S waits while the start is pending, and then the service has stopped.
  run("/S");
  EXPECT_EQ(StateOfService(sample), static_cast<DWORD>(SERVICE_STOPPED));
  // An install over an existing service is refused before anything is reported.
  EXPECT_NE(run("/I").err, "");
  EXPECT_EQ(run("/U").err, "");
  DeleteFileA((sample.path + ".fail-init").c_str());
  EXPECT_EQ(ReportsSince(from, 3),
            (std::vector<Report>{Event(kInformation, 100, sample), Event(kError, 104, sample),
                                 Event(kInformation, 101, sample)}));
}

// The rebooter (its copy beside this program) runs windowless: a recovery that failed is seen in
// the event log too. With no "Pellux" service and no base station (Wine lists no USB devices),
// nothing of the recovery works; one that stops and starts the service is told nowhere.
TEST_F(ServiceEventReports, AFailedRecoveryIsReportedByTheRebooter) {
  const std::size_t from = DebugLines().size();
  const Ran ran = RunProgramAt(ProgramBeside("rebooter64.exe"), "10C4 84C4 2147483000");
  EXPECT_THAT(ran.err, testing::HasSubstr("Failed to restart base station:  device not found\n"));
  const std::vector<Report> reports = ReportsSince(from, 1);
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(reports[0].type, kError);
  EXPECT_EQ(reports[0].id, 112U);
  ASSERT_EQ(reports[0].stringCount, 2U);
  ASSERT_EQ(reports[0].strings.size(), 2U);
  EXPECT_EQ(reports[0].strings[0], "Pellux");
  // Wine's channel shows only the beginning of the text: the run's first failure.
  EXPECT_THAT(reports[0].strings[1],
              testing::StartsWith("OpenServiceA(Pellux) failed: error 1060 (Service does not "
                                  "exist) [0x00000424]; "));
}

}  // namespace
}  // namespace Pellux
