// The service's user interface with its real Windows parts under Wine: the string table's
// texts, and pages, status lines and status answers over real named pipes, through the real
// listener and the service pipe.

#include "ui/win_user_interface.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/support/no_exchange.h"
#include "tests/support/recording_session_control.h"
#include "tests/ui/channel/named_pipe_test_support_win.h"
#include "tests/ui/log/memory_log_folder.h"
#include "ui/channel/pipe_client_sender_win.h"
#include "ui/channel/service_pipe.h"
#include "ui/message_strings.h"
#include "ui/support_address.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

std::string MailLink() {
  const std::string address = SupportAddress();
  return "<a href=\"mailto:" + address + "\">" + address + "</a>";
}

TEST(WinMessageStringsTest, StringTableHoldsTheSevenTextsWithTheSupportAddress) {
  const struct {
    int id;
    std::string text;
  } cases[] = {
      {101,
       "A communication error has occurred, so the Pellux service has been restarted. Please try "
       "again."},
      {102,
       "Sorry, the Pellux service is currently in use by another user on your computer. Please "
       "terminate all other account setup sessions or try again later."},
      {103,
       "Connection to the Pellux servers failed. Please make sure that you are connected to the "
       "Internet."},
      {104,
       "An error occurred while connecting to Pellux servers. Please contact " + MailLink() + "."},
      {105,
       "Your Pellux has disconnected unexpectedly. Please make sure that your base station is "
       "connected and your Pellux is within wireless transmission range."},
      {106,
       "Your Pellux base station is no longer plugged in. Please plug in your base station and "
       "try again."},
      {107, "Uh Oh. Something failed in the Pellux Service. Please contact " + MailLink() + "."},
      {100, ""},
      {108, ""},
  };
  const WinMessageStrings own;  // no resources library loaded: the program's own table
  const WinMessageStrings given(GetModuleHandleA(nullptr));
  const BuiltInMessageStrings builtIn;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(own.Text(c.id), c.text);
    EXPECT_EQ(given.Text(c.id), c.text);
    EXPECT_EQ(builtIn.Text(c.id), c.text) << "the daemon's texts are the same";
  }
  // A module without the table has no texts.
  const WinMessageStrings kernel(GetModuleHandleA("kernel32.dll"));
  EXPECT_EQ(kernel.Text(101), "");
}

TEST(WinMessageStringsTest, LoadedResourcesLibraryComesFirst) {
  const WinMessageStrings strings;
  ASSERT_EQ(GetModuleHandleA("UplinkerResources.dll"), nullptr);
  HMODULE library = LoadLibraryA("UplinkerResources.dll");  // the stand-in beside the program
  ASSERT_NE(library, nullptr) << GetLastError();
  EXPECT_EQ(strings.Text(101), "From the resources library: 101");
  EXPECT_EQ(strings.Text(107), "From the resources library: 107");
  EXPECT_EQ(strings.Text(103), "") << "the library's table is the one read, gaps and all";
  FreeLibrary(library);
  EXPECT_EQ(strings.Text(107),
            "Uh Oh. Something failed in the Pellux Service. Please contact " + MailLink() + ".");
}

std::mutex debugMutex;
std::vector<std::string> debugLines;

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text for a debugger; a vectored
// handler sees it first, as a debugger would.
LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  if (record.ExceptionCode != DBG_PRINTEXCEPTION_C || record.NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
  const std::lock_guard lock(debugMutex);
  debugLines.emplace_back(text, strnlen(text, record.ExceptionInformation[0]));
  return EXCEPTION_CONTINUE_EXECUTION;
}

class WinUserInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler = AddVectoredExceptionHandler(1, CaptureDebugString);
    store.WriteNumber("Tracker", "LogActivity", 1);
    store.WriteNumber("Tracker", "MaxLogDays", 7);
    auto memory = std::make_unique<MemoryLogFolder>(clock, "C:\\logs");
    folder = memory.get();
    // Wine maps the build's folders under Z:.
    ui = std::make_unique<WinUserInterface>(
        store, pool, nullptr, clock, std::string("Z:") + PELLUX_SOURCE_DIR, std::move(memory));
    ASSERT_TRUE(ui->Activity().Open());
    ASSERT_TRUE(reply.started);
  }
  void TearDown() override {
    ui.reset();
    RemoveVectoredExceptionHandler(handler);
  }

  static std::vector<std::string> DebugLines() {
    const std::lock_guard lock(debugMutex);
    return debugLines;
  }
  static void ClearDebugLines() {
    const std::lock_guard lock(debugMutex);
    debugLines.clear();
  }

  void* handler = nullptr;
  MemorySettingsStore store;
  VirtualClock clock;
  NoExchange exchange;
  NetworkWorkerPool pool{exchange};
  MemoryLogFolder* folder = nullptr;
  std::unique_ptr<WinUserInterface> ui;
  ReplyPipe reply{UniquePipeName("ui")};

  // The endpoint `name` as a message of this process would have named it.
  Context Mine(const std::string& name) {
    std::string error;
    const auto me = ProcessSender(GetCurrentProcessId(), error);
    endpoints.push_back(ReplyEndpoint{name, me ? *me : UiSender{}});
    return &endpoints.back();
  }
  std::deque<ReplyEndpoint> endpoints;
};

TEST_F(WinUserInterfaceTest, StatusLinesAndPagesReachTheUisPipe) {
  ui->Log("Connecting to the server...", 8, Mine(reply.name));
  ui->Log("Not for the UI", 3, Mine(reply.name));
  EXPECT_TRUE(ui->DisplayHtml("<form>name?</form>", Mine(reply.name), 400, 300));
  ASSERT_TRUE(reply.messages.WaitFor(2));
  EXPECT_EQ(reply.messages.All(), (std::vector<std::string>{"IConnecting to the server...",
                                                            "H400 300 <form>name?</form>"}));
  // Every line goes on to the activity log and the debugger output.
  const auto names = folder->Names();
  ASSERT_EQ(names.size(), 1u);
  const std::string log = folder->Contents(names[0]);
  EXPECT_NE(log.find(" Connecting to the server...\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Not for the UI\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" Sending 18 bytes of HTML to UI...\r\n"), std::string::npos) << log;
  const auto debug = DebugLines();
  EXPECT_NE(std::find(debug.begin(), debug.end(), "Connecting to the server...\n"), debug.end());
  // A UI that has gone away: the send reports it.
  const std::string gone = UniquePipeName("gone");
  EXPECT_FALSE(ui->DisplayHtml("<p/>", Mine(gone), -1, -1));
}

TEST_F(WinUserInterfaceTest, ErrorPagesUseTheShippedTemplateAndTheStringTable) {
  ui->ShowError(0, "kPXDaemonStationUnPlugged", Mine(reply.name));
  ui->ShowError(0, "kSomethingElse", Mine(reply.name));
  ASSERT_TRUE(reply.messages.WaitFor(2));
  const std::string unplugged = reply.messages.At(0);
  EXPECT_EQ(unplugged.rfind("H-1 -1 <!DOCTYPE html>", 0), 0u) << unplugged;
  EXPECT_NE(unplugged.find("<p>Your Pellux base station is no longer plugged in. Please plug in "
                           "your base station and try again.</p>"),
            std::string::npos)
      << unplugged;
  EXPECT_NE(reply.messages.At(1).find("<p>Uh Oh. Something failed in the Pellux Service. Please "
                                      "contact " +
                                      MailLink() + ".</p>"),
            std::string::npos)
      << reply.messages.At(1);
}

TEST_F(WinUserInterfaceTest, MissingTemplateGivesEmptyPagesAndSaysSo) {
  auto memory = std::make_unique<MemoryLogFolder>(clock, "C:\\other");
  ClearDebugLines();
  WinUserInterface bare(store, pool, nullptr, clock, "C:\\nowhere", std::move(memory));
  bare.ShowError(0, "kPXDaemonDisconnected", Mine(reply.name));
  ASSERT_TRUE(reply.messages.WaitFor(1));
  EXPECT_EQ(reply.messages.At(0), "H-1 -1 ");
  const auto debug = DebugLines();
  EXPECT_NE(std::find(debug.begin(), debug.end(),
                      "UI: No error page template (C:\\nowhere\\html_templates\\standard_error.tpl "
                      "is missing): error pages will be empty\n"),
            debug.end());
}

TEST_F(WinUserInterfaceTest, RelaunchWithoutTheRebooterInTheFolderFailsAndSaysWhy) {
  // The folder holds html_templates\ but no rebooter: nothing else (PATH, the current folder)
  // is searched.
  EXPECT_FALSE(ui->Relaunch(0x10C4, 0x84C4));
  const std::string log = folder->Contents(folder->Names().at(0));
  const std::string line = std::string("Relaunching application:  \"Z:") + PELLUX_SOURCE_DIR +
                           "\\rebooter64.exe\" 10c4 84c4 " + std::to_string(GetCurrentProcessId()) +
                           "\r\n";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  const auto failed = log.find("CreateProcess() failed: ");
  ASSERT_NE(failed, std::string::npos) << log;
  EXPECT_NE(std::string("23").find(log[failed + 24]), std::string::npos) << log;
  EXPECT_NE(log.find("CreateProcessA(\"Z:"), std::string::npos) << log;
}

TEST_F(WinUserInterfaceTest, RelaunchFromAFolderTooLongForTheCommandLineIsRefused) {
  auto memory = std::make_unique<MemoryLogFolder>(clock, "C:\\other");
  MemoryLogFolder& log = *memory;
  WinUserInterface deep(store, pool, nullptr, clock, "C:\\" + std::string(240, 'd'),
                        std::move(memory));
  ASSERT_TRUE(deep.Activity().Open());
  EXPECT_FALSE(deep.Relaunch(0x10C4, 0x84C4));
  const std::string text = log.Contents(log.Names().at(0));
  EXPECT_NE(text.find("Cannot relaunch: no command line of at most 259 characters starts the "
                      "rebooter in the program folder 'C:\\ddd"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("Relaunching application"), std::string::npos) << text;
}

TEST_F(WinUserInterfaceTest, StatusPollThroughTheListenerIsAnsweredOnTheUisPipeWithoutALogLine) {
  RecordingSessionControl engine;
  const std::string service = UniquePipeName("service");
  ServicePipe pipe(engine, *ui, clock, ui->MakeListener(service));
  ASSERT_TRUE(pipe.Start());
  ClearDebugLines();
  ASSERT_TRUE(WriteMessage(service, "T " + reply.name));
  ASSERT_TRUE(reply.messages.WaitFor(1));
  EXPECT_EQ(reply.messages.At(0), "T0 0");
  EXPECT_TRUE(DebugLines().empty()) << DebugLines()[0];

  // A poll naming a pipe of another machine is not answered there, and the next one is.
  engine.SetStatus(true, 1767225600);
  ASSERT_TRUE(WriteMessage(service, "T \\\\host\\pipe\\x"));
  ASSERT_TRUE(WriteMessage(service, "T " + reply.name));
  ASSERT_TRUE(reply.messages.WaitFor(2));
  EXPECT_EQ(reply.messages.At(1), "T1 1767225600");
  EXPECT_EQ(DebugLines(),
            (std::vector<std::string>{
                "UI: Not replying to \\\\host\\pipe\\x: not a pipe of this machine\n"}));
  pipe.Stop();
}

TEST(WinProgramFolder, IsTheFolderOfTheRunningProgram) {
  std::string problem;
  const std::string own = WinUserInterface::ProgramFolder(problem);
  EXPECT_TRUE(problem.empty()) << problem;
  EXPECT_NE(GetFileAttributesA((own + "\\ui_named_pipe_tests.exe").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << own;
}

}  // namespace
}  // namespace Pellux
