// A UI session end to end, on Linux and under Wine: the whole uploader with the platform's
// user interface, the service pipe on the real listener (a Unix socket, a named pipe), the
// reference upload server over loopback HTTP, and pelluxctl's core as the UI (its session
// command, and its browser page).

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/engine_session_control.h"
#include "app/uploader.h"
#include "sim/memory_settings_store.h"
#include "sim/reference_server.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/linux_side_fetch.h"
#include "tests/support/locked_text.h"
#include "tests/support/loopback_http.h"
#include "tests/support/ui_channel_platform.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "ui/channel/service_pipe.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class UiSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.WriteText("Tracker", "ServerHost", ReferenceServer::kLoopback);
    store.WriteNumber("Tracker", "ServerPort", server.Port());
    store.WriteText("Tracker", "ServerPath", "/upload");
    uploader = std::make_unique<Uploader>(Uploader::Pieces{
        .settings = store,
        .devices = bus,
        .clock = clock,
        .makeUserInterface =
            [this](SettingsStore& settings, NetworkWorkerPool& pool) {
              return platform.MakeInterface(settings, pool, AnswersToEngine(), clock);
            },
        .httpLog = {},
        .httpLimits = {},
        .radioTiming = {},
        .identifiers = nullptr});
    control = std::make_unique<EngineSessionControl>(uploader->Engine());
    auto& ui = dynamic_cast<ServiceUserInterface&>(uploader->Interface());
    pipe = std::make_unique<ServicePipe>(*control, ui, clock, platform.MakeListener());
    ASSERT_TRUE(pipe->Start());
  }
  void TearDown() override {
    pipe.reset();
    control.reset();
    uploader.reset();
    server.Stop();
  }

  // Waits for what other threads do (the listener, the network workers, the server).
  static bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  // pelluxctl's core on a thread of its own, as the UI `reply`, with its output readable as it
  // comes; Join() after the session ends (or Interrupt(), as Ctrl-C).
  class Pelluxctl {
   public:
    Pelluxctl(const PelluxctlOptions& options, const std::string& reply) {
      std::string error;
      connection_ = UiConnection::Open(options.service, reply, error);
      EXPECT_NE(connection_, nullptr) << error;
      if (!connection_) return;
      thread_ = std::thread([this, options] {
        status_ =
            RunPelluxctl(options, *connection_, {out_, err_, in_, interrupted_, 5000ms, 200ms});
      });
    }
    Pelluxctl(const Pelluxctl&) = delete;
    Pelluxctl& operator=(const Pelluxctl&) = delete;
    ~Pelluxctl() {
      interrupted_.store(true);
      if (thread_.joinable()) thread_.join();
    }

    void Interrupt() { interrupted_.store(true); }
    int Join() {
      if (thread_.joinable()) thread_.join();
      return status_;
    }
    std::string Out() { return outText_.Text(); }
    // Standard error: read after Join().
    std::string Err() const { return err_.str(); }

   private:
    std::unique_ptr<UiConnection> connection_;
    LockedText outText_;
    std::ostream out_{&outText_};
    std::ostringstream err_;
    std::istringstream in_;
    std::atomic<bool> interrupted_{false};
    int status_ = -1;
    std::thread thread_;
  };

  UiChannelPlatform platform{"session"};
  ReferenceServer server;
  VirtualClock clock;
  MemorySettingsStore store;
  VirtualDeviceBus bus;
  std::unique_ptr<Uploader> uploader;
  std::unique_ptr<EngineSessionControl> control;
  std::unique_ptr<ServicePipe> pipe;
};

TEST_F(UiSessionTest, PageReachesTheUiAndTheFormReachesTheServer) {
  const std::string port = std::to_string(server.Port());
  server.ScriptDocuments(
      {"<p><response host=\"127.0.0.1\" port=\"" + port +
       "\" path=\"/upload\">step=2</response><clientDisplay><message>Welcome</message>"
       "<dialog containsForm=\"true\" width=\"400\" height=\"300\"><![CDATA[<form>name?</form>]]>"
       "</dialog></clientDisplay></p>"});

  PelluxctlOptions options;
  options.command = PelluxctlOptions::Command::kSession;
  options.service = platform.ServiceAddress();
  options.mode = "setup";
  options.html = platform.Folder() + "/pages";
  options.forms = {"name=ann"};
  Pelluxctl ctl(options, platform.ReplyName("ui"));

  // The first post, then the form's post, then the session closes and a standard one begins.
  const bool posted = Eventually([&] { return server.Requests().size() >= 2; });
  const bool closed = Eventually([&] { return uploader->Engine().Mode() == "standard"; });
  ctl.Interrupt();
  const int status = ctl.Join();
  ASSERT_TRUE(posted);
  ASSERT_TRUE(closed);
  EXPECT_EQ(status, kPelluxctlOk) << ctl.Err();
  const auto requests = server.Requests();
  EXPECT_NE(requests[0].body.find("clientMode=setup"), std::string::npos) << requests[0].body;
  // The form's input first, then the session's fields, then the text of the server's response.
  EXPECT_EQ(requests[1].body.rfind("name=ann&", 0), 0u) << requests[1].body;
  EXPECT_EQ(requests[1].body.substr(requests[1].body.size() - 6), "step=2") << requests[1].body;
  std::ifstream page(options.html + "/page-1.html", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(page), {}), "<form>name?</form>");
  EXPECT_NE(ctl.Out().find("info: Welcome\n"), std::string::npos) << ctl.Out();
  EXPECT_NE(ctl.Out().find("page 1 (400x300): "), std::string::npos) << ctl.Out();
}

// pelluxctl ui as a browser uses it, with the page asked for by a program of the Linux side
// (under Wine, a native Linux process) and the form posted as the page's frame posts it.
TEST_F(UiSessionTest, TheBrowserPageShowsTheSessionAndItsFormReachesTheServer) {
  const std::string port = std::to_string(server.Port());
  const auto page = [&](const std::string& text, const std::string& html) {
    return "<p><response host=\"127.0.0.1\" port=\"" + port + "\" path=\"/upload\">" + text +
           "</response><clientDisplay><dialog containsForm=\"true\"><![CDATA[" + html +
           "]]></dialog></clientDisplay></p>";
  };
  server.ScriptDocuments({page("step=2", "<form method=get><input name=name></form>"),
                          page("step=3", "<p>Done.</p>")});

  PelluxctlOptions options;
  options.command = PelluxctlOptions::Command::kUi;
  options.service = platform.ServiceAddress();
  options.mode = "setup";
  options.noBrowser = true;
  Pelluxctl ctl(options, platform.ReplyName("browser"));
  const auto printed = [&](const std::string& text) {
    return Eventually([&] { return ctl.Out().find(text) != std::string::npos; });
  };

  const bool shown = printed("page 1 shown");
  const std::string text = ctl.Out();
  const std::string mark = "the page is at ";
  const std::size_t at = text.find(mark);
  ASSERT_TRUE(shown && at != std::string::npos) << text;
  const std::string url = text.substr(at + mark.size(), text.find('\n', at) - at - mark.size());
  const std::string origin = url.substr(0, url.find('/', std::string("http://").size()));
  const std::string path = url.substr(origin.size());
  const auto webPort = static_cast<std::uint16_t>(std::stoi(origin.substr(origin.rfind(':') + 1)));

  const auto fetched = FetchFromLinuxSide(url);
  ASSERT_TRUE(fetched.has_value());
  EXPECT_EQ(fetched->rfind("200 ", 0), 0U) << *fetched;
  EXPECT_NE(fetched->find("sandbox=\"allow-forms\""), std::string::npos) << *fetched;
  const auto refused = FetchFromLinuxSide(origin + "/");
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->rfind("403 ", 0), 0U) << *refused;
  const auto frame = FetchFromLinuxSide(url + "page/1/");
  ASSERT_TRUE(frame.has_value());
  EXPECT_NE(frame->find("<form action=\"" + url + "page/1/form\" method=\"post\""),
            std::string::npos)
      << *frame;

  using boost::beast::http::verb;
  const std::string host = origin.substr(std::string("http://").size());
  // Each "-" is escaped for the service: a body within the page's limit that makes a message
  // past the service's is refused, and the page can still be answered.
  EXPECT_EQ(LoopbackHttp(webPort, verb::post, path + "page/1/form", host, "null",
                         "name=" + std::string(30000, '-'))
                .status,
            413U);
  EXPECT_EQ(
      LoopbackHttp(webPort, verb::post, path + "page/1/form", host, "null", "name=Ann+Smith%21")
          .status,
      200U);
  const bool second = printed("page 2 shown");
  EXPECT_EQ(LoopbackHttp(webPort, verb::post, path + "finish", host, origin).status, 204U);
  const int status = ctl.Join();
  ASSERT_TRUE(second) << ctl.Out();
  EXPECT_EQ(status, kPelluxctlOk) << ctl.Err();
  EXPECT_NE(ctl.Err().find("pelluxctl: the form of page 1 makes a message of 90"),
            std::string::npos)
      << ctl.Err();
  EXPECT_NE(ctl.Out().find("form of page 1 sent\n"), std::string::npos) << ctl.Out();
  EXPECT_NE(ctl.Out().find("session finished (Finish pressed in the browser)\n"), std::string::npos)
      << ctl.Out();
  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 2U);
  EXPECT_EQ(requests[1].body.rfind("name=Ann%20Smith!&", 0), 0U) << requests[1].body;
  EXPECT_TRUE(Eventually([&] { return uploader->Engine().Mode() == "standard"; }));
}

TEST_F(UiSessionTest, WithoutPollsTheWatchdogFinishesTheSession) {
  server.ScriptDocuments({"<p><response host=\"127.0.0.1\" port=\"" +
                          std::to_string(server.Port()) +
                          "\" path=\"/upload\"/><clientDisplay><dialog containsForm=\"true\">"
                          "<![CDATA[<form/>]]></dialog></clientDisplay></p>"});
  pipe->OnMessage(UiChannelPlatform::ThisProcess(), "S " + platform.ReplyName("silent") + " setup");
  ASSERT_EQ(uploader->Engine().Mode(), "setup");
  ASSERT_TRUE(Eventually([&] { return server.Requests().size() >= 1; }));
  clock.Advance(4999ms);
  EXPECT_EQ(uploader->Engine().Mode(), "setup");
  clock.Advance(1ms);
  EXPECT_EQ(uploader->Engine().Mode(), "standard");
  EXPECT_EQ(uploader->Engine().SessionContext(), kNoContext);
}

}  // namespace
}  // namespace Pellux
