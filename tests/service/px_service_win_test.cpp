// The whole "Pellux" service at work under Wine's service manager: installed and started, it
// opens its base station (virtual, inside the service's process), links the tracker, posts to
// the reference server over WinInet, writes its activity log under ProgramData, answers
// pelluxctl's status over its real pipe, and stops cleanly.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

#include "sim/reference_server.h"
#include "tests/service/program_runner_win.h"
#include "tests/service/service_under_test_win.h"
#include "tests/support/pelluxctl_status.h"
#include "ui/settings/registry_settings_store_win.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

Ran Service(const std::string& switchText) {
  return RunProgramAt(ProgramBeside("px_service_host.exe"), switchText);
}

TEST(PelluxServiceTest, InstalledAndStartedItUploadsAnswersTheUiAndStopsCleanly) {
  ReferenceServer server;
  ScriptOneUpload(server);

  ASSERT_EQ(Service("/I").err, "");
  const Ran started = Service("/S");
  ASSERT_EQ(started.err, "The Pellux Data Uploader service has started.\n");

  // The tracker is linked and its session posted, and the server's close was acted on.
  EXPECT_TRUE(Eventually([&] { return server.Requests().size() >= 2; }))
      << server.Requests().size() << " request(s)";

  // pelluxctl over the service's real pipe.
  const std::string status =
      PelluxctlStatus(UiConnection::DefaultServiceName(), UiConnection::DefaultReplyName());
  EXPECT_TRUE(StatusSaysStationOpen(status)) << status;

  EXPECT_EQ(Service("/P").err, "");
  EXPECT_TRUE(Eventually([&] {
    const std::string log = ActivityLog();
    return log.find("<<< APPLICATION TERMINATED >>>") != std::string::npos;
  })) << ActivityLog();
  const std::string log = ActivityLog();
  EXPECT_NE(log.find("Starting session in standard mode..."), std::string::npos);
  EXPECT_NE(log.find("SERVICE STOP EVENT"), std::string::npos);
  EXPECT_LT(log.find("SERVICE STOP EVENT"), log.find("<<< APPLICATION TERMINATED >>>"));
  EXPECT_EQ(Service("/U").err, "");
  server.Stop();
}

}  // namespace
}  // namespace Pellux
