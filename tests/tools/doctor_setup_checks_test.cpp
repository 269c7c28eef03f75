// polkit, the log's space and the upload server over stand-in probes: one table each.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/tools/doctor_fakes.h"
#include "tools/pelluxctl/doctor/server_check.h"
#include "tools/pelluxctl/doctor/setup_checks.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

void ExpectCheck(const DoctorCheck& check, DoctorStatus status, const std::string& found,
                 const std::string& fix) {
  EXPECT_EQ(check.status, status) << check.found;
  EXPECT_NE(check.found.find(found), std::string::npos) << check.found;
  if (fix.empty()) {
    EXPECT_EQ(check.fix, "");
  } else {
    EXPECT_NE(check.fix.find(fix), std::string::npos) << check.fix;
  }
}

TEST(DoctorPolkit, RuleActionAndPolkitdEachWarnWhenMissing) {
  const std::string packageRule = "/usr/share/polkit-1/rules.d/50-pellux-rebooter.rules";
  const std::string localRule = "/etc/polkit-1/rules.d/50-pellux-rebooter.rules";
  struct Case {
    const char* what;
    bool packageRule;
    bool localRule;
    bool action;
    bool polkitd;
    DoctorStatus status;
    const char* found;
    const char* fix;
  };
  const Case cases[] = {
      {"all there", true, false, true, true, DoctorStatus::kOk,
       "the rule and the action are installed and polkitd runs (pid 321)", ""},
      {"rule in /etc", false, true, true, true, DoctorStatus::kOk, "polkitd runs", ""},
      {"no rule", false, false, true, true, DoctorStatus::kWarn,
       "50-pellux-rebooter.rules is not installed: the daemon cannot power-cycle",
       "install the pellux package"},
      {"no action", true, false, false, true, DoctorStatus::kWarn,
       "org.pellux.uploader.policy is not installed", "install the pellux package"},
      {"no polkitd", true, false, true, false, DoctorStatus::kWarn, "polkitd does not run",
       "sudo systemctl start polkit.service"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileProbe files;
    FakeProcessProbe processes;
    if (c.packageRule) files.AddFile(packageRule, "rule");
    if (c.localRule) files.AddFile(localRule, "rule");
    if (c.action) files.AddFile(kPolkitActionPath, "<policyconfig/>");
    if (c.polkitd) processes.running["polkitd"] = {{321, "polkitd", "/usr/lib/polkit-1/polkitd"}};
    ExpectCheck(CheckPolkit(files, processes), c.status, c.found, c.fix);
  }
}

TEST(DoctorLogSpace, WarnsWhenLowFailsWhenNearlyNone) {
  constexpr std::uint64_t kMiB = std::uint64_t{1024} * 1024;
  struct Case {
    const char* what;
    bool folderThere;
    bool measured;
    DoctorStatus status;
    std::uint64_t available;
    const char* found;
    const char* fix;
  };
  const Case cases[] = {
      {"plenty", true, true, DoctorStatus::kOk, 10240 * kMiB,
       "10240 MiB free of 20480 MiB on /var/log/pellux", ""},
      {"just enough", true, true, DoctorStatus::kOk, kLowLogSpace, "256 MiB free", ""},
      {"low", true, true, DoctorStatus::kWarn, kLowLogSpace - 1, "255 MiB free", "free space"},
      {"nearly none", true, true, DoctorStatus::kFail, kNoLogSpace - 1,
       "15 MiB free of 20480 MiB on /var/log/pellux: the activity log cannot be written",
       "free space on the file system of /var/log/pellux"},
      {"none", true, true, DoctorStatus::kFail, 0, "0 MiB free", "free space"},
      {"folder not made yet", false, true, DoctorStatus::kOk, 10240 * kMiB,
       "on /var/log (/var/log/pellux is not made yet)", ""},
      {"unmeasurable", true, false, DoctorStatus::kWarn, 0,
       "free space of /var/log/pellux is unknown: statvfs", "df /var/log/pellux"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileProbe files;
    const std::string measured = c.folderThere ? "/var/log/pellux" : "/var/log";
    files.facts[measured].state = FileFacts::State::kPresent;
    if (c.measured) files.spaces[measured] = {true, "", c.available, 20480 * kMiB};
    ExpectCheck(CheckLogSpace("/var/log/pellux", files), c.status, c.found, c.fix);
  }
}

TEST(DoctorServer, EachOutcomeOfTheRequestGivesItsStatus) {
  using Outcome = ServerAnswer::Outcome;
  struct Case {
    const char* what;
    Outcome outcome;
    DoctorStatus doctor;
    long status;
    const char* found;
    const char* fix;
  };
  const Case cases[] = {
      {"answers", Outcome::kAnswered, DoctorStatus::kOk, 200,
       "upload.pellux.com:8001 (direct) answered HTTP 200", ""},
      {"answers the GET with 405", Outcome::kAnswered, DoctorStatus::kOk, 405, "answered HTTP 405",
       ""},
      {"server error", Outcome::kAnswered, DoctorStatus::kWarn, 503, "answered HTTP 503",
       "try again later"},
      {"proxy wants a password", Outcome::kAnswered, DoctorStatus::kFail, 407,
       "asks for a password", "pelluxctl proxy"},
      {"unresolved", Outcome::kUnresolved, DoctorStatus::kFail, 0,
       "upload.pellux.com does not resolve (why)", "getent hosts upload.pellux.com"},
      {"proxy unresolved", Outcome::kProxyUnresolved, DoctorStatus::kFail, 0,
       "the proxy  does not resolve", "pelluxctl proxy --help"},
      {"refused", Outcome::kRefused, DoctorStatus::kFail, 0,
       "upload.pellux.com:8001 (direct) refused the connection (why)", "firewall"},
      {"hangs", Outcome::kTimedOut, DoctorStatus::kFail, 0, "did not answer within 50 ms",
       "firewall"},
      {"other", Outcome::kFailed, DoctorStatus::kFail, 0, "the request to upload.pellux.com:8001",
       "ServerHost"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeServerProbe probe;
    probe.answer.outcome = c.outcome;
    probe.answer.status = c.status;
    probe.answer.detail = c.outcome == Outcome::kAnswered ? "" : "why";
    const DoctorSettings settings;
    ExpectCheck(CheckServer(settings, probe, 50ms), c.doctor, c.found, c.fix);
    ASSERT_EQ(probe.asked.size(), 1U);
    EXPECT_EQ(probe.asked[0].host, "upload.pellux.com");
    EXPECT_EQ(probe.asked[0].port, 8001);
    EXPECT_EQ(probe.asked[0].path, "/device/tracker/errors");
    EXPECT_EQ(probe.asked[0].proxy, "");
  }
}

TEST(DoctorServer, GoesThroughTheProxyTheDaemonWouldTake) {
  struct Case {
    const char* what;
    std::function<void(ProxySettings&)> set;
    const char* proxy;
  };
  const Case cases[] = {
      {"default: direct", [](ProxySettings&) {}, ""},
      {"override",
       [](ProxySettings& p) {
         p.selection = 2;
         p.serverOverride = "over:3128";
       },
       "over:3128"},
      {"per connection, manual",
       [](ProxySettings& p) {
         p.selection = 1;
         p.flags = ProxySettings::kManualProxy;
         p.server = "http=web:8080;https=secure:8443";
       },
       "web:8080"},
      {"per connection, all flags",
       [](ProxySettings& p) {
         p.selection = 1;
         p.server = "any:1";
       },
       "any:1"},
      {"per connection, direct flag only",
       [](ProxySettings& p) {
         p.selection = 1;
         p.flags = ProxySettings::kDirect;
         p.server = "any:1";
       },
       ""},
      {"bypassed",
       [](ProxySettings& p) {
         p.selection = 1;
         p.flags = ProxySettings::kManualProxy;
         p.server = "any:1";
         p.bypass = "*.pellux.com";
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DoctorSettings settings;
    c.set(settings.proxy);
    FakeServerProbe probe;
    probe.answer.outcome = ServerAnswer::Outcome::kAnswered;
    probe.answer.status = 200;
    const DoctorCheck check = CheckServer(settings, probe, 50ms);
    ASSERT_EQ(probe.asked.size(), 1U);
    EXPECT_EQ(probe.asked[0].proxy, c.proxy);
    EXPECT_NE(check.found.find(*c.proxy == '\0' ? std::string("(direct)")
                                                : std::string("through the proxy ") + c.proxy),
              std::string::npos)
        << check.found;
  }
}

TEST(DoctorServer, APortOutsideTcpsRangeFailsWithoutARequest) {
  for (const std::int32_t port : {-1, 65536}) {
    DoctorSettings settings;
    settings.serverPort = port;
    FakeServerProbe probe;
    ExpectCheck(CheckServer(settings, probe, 50ms), DoctorStatus::kFail,
                "ServerPort " + std::to_string(port) + " is no TCP port", "ServerPort");
    EXPECT_TRUE(probe.asked.empty());
  }
}

}  // namespace
}  // namespace Pellux
