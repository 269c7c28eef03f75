#include "ui/service_user_interface.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_level.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/support/eventually.h"
#include "tests/support/fixed_authority.h"
#include "tests/ui/log/memory_log_folder.h"
#include "ui/support_address.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class RecordingReplies final : public ReplyChannel {
 public:
  struct Sent {
    std::string message;
    Context context;
    bool operator==(const Sent&) const = default;
  };
  bool Send(const std::string& message, Context context) override {
    std::lock_guard guard(mutex_);
    sent_.push_back({message, context});
    return answer;
  }
  std::vector<Sent> All() const {
    std::lock_guard guard(mutex_);
    return sent_;
  }
  bool answer = true;

 private:
  mutable std::mutex mutex_;
  std::vector<Sent> sent_;
};

// Answers every exchange with the request's path as the body, and remembers the proxy settings
// each exchange was given.
class EchoExchange final : public HttpExchange {
 public:
  EchoExchange() : HttpExchange(nullptr, {}) {}
  HttpResult Exchange(const NetworkRequest& request, const ProxySettings& proxy) override {
    std::unique_lock guard(mutex);
    proxies.push_back(proxy);
    let.wait(guard, [this] { return !held; });
    return {false, request.path};
  }
  // Exchanges wait from Hold until Let.
  void Hold() {
    std::lock_guard guard(mutex);
    held = true;
  }
  void Let() {
    std::lock_guard guard(mutex);
    held = false;
    let.notify_all();
  }
  std::mutex mutex;
  std::condition_variable let;
  bool held = false;
  std::vector<ProxySettings> proxies;
};

// The bridge with its log lines observed, as the activity log would see them.
class ObservedInterface final : public ServiceUserInterface {
 public:
  using ServiceUserInterface::ServiceUserInterface;
  void Log(const std::string& text, int level, Context context) override {
    {
      std::lock_guard guard(mutex);
      lines.push_back(std::to_string(level) + " " + text);
    }
    ServiceUserInterface::Log(text, level, context);
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

class ServiceUserInterfaceTest : public ::testing::Test {
 protected:
  struct Answer {
    bool failed;
    std::string body;
    std::uint32_t number;
    Context context;
  };

  void TearDown() override { ProcessProxySettings::Set({}); }

  std::unique_ptr<ObservedInterface> Make(std::string errorTemplate = "<p>%1%</p>") {
    return std::make_unique<ObservedInterface>(ServiceUserInterface::Parts{
        store, pool, replies, authority, strings,
        [this](bool failed, const std::string& body, std::uint32_t number, Context context) {
          std::lock_guard guard(answerMutex);
          answers.push_back({failed, body, number, context});
          answered.notify_all();
        },
        std::move(errorTemplate), "", folder, debug, clock, "1.2.3"});
  }

  // The one log file's contents; empty when there is none.
  std::string LogFile() const {
    const auto names = folder.Names();
    return names.empty() ? std::string() : folder.Contents(names.back());
  }

  const ReplyEndpoint nameA{"@a", UiSender::FromUnixCredentials(1000, 1000, 1)};
  const Context a = &nameA;
  MemorySettingsStore store;
  VirtualClock clock;
  MemoryLogFolder folder{clock, "/logs"};
  RecordingDebugOutput debug;
  EchoExchange exchange;
  NetworkWorkerPool pool{exchange};
  RecordingReplies replies;
  FixedAuthority authority;
  BuiltInMessageStrings strings;
  std::mutex answerMutex;
  std::condition_variable answered;
  std::vector<Answer> answers;
};

TEST_F(ServiceUserInterfaceTest, ErrorPagesBindTheTextsOfTheirKeys) {
  const std::string internal = ServiceUserInterface::InternalErrorText();
  EXPECT_EQ(internal,
            std::string("There was an internal error.  Please contact ") + SupportAddress() + ".");
  struct Case {
    std::string pageTemplate;
    std::vector<std::string> keys;
    std::string page;
  };
  const Case cases[] = {
      {"<p>%1%</p>", {"kPXDaemonStationUnPlugged"}, "<p>" + strings.Text(106) + "</p>"},
      {"<p>%1%</p>", {"kPXDaemonErrorOccurred"}, "<p>" + strings.Text(104) + "</p>"},
      {"<p>%1%</p>", {"kSomethingElse"}, "<p>" + strings.Text(107) + "</p>"},
      {"<p>%2%|%1%</p>",
       {"kPXDaemonCommunicationError", "kPXDaemonAlreadyRunning"},
       "<p>" + strings.Text(102) + "|" + strings.Text(101) + "</p>"},
      {"<p>%1%</p>", {"kPXDaemonDisconnected", "kPXDaemonDisconnected"}, internal},
      {"<p>%1% %2%</p>", {"kPXDaemonConnectionFailed"}, internal},
      {"<p>100%</p>", {"kPXDaemonConnectionFailed"}, internal},
      {"", {"kPXDaemonConnectionFailed"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pageTemplate);
    auto ui = Make(c.pageTemplate);
    ASSERT_TRUE(ui->ShowErrorList(0, c.keys, a));
    ASSERT_FALSE(replies.All().empty());
    EXPECT_EQ(replies.All().back(), (RecordingReplies::Sent{"H-1 -1 " + c.page, a}));
  }
  auto ui = Make();
  ui->ShowError(0, "kPXDaemonDisconnected", a);
  EXPECT_EQ(replies.All().back().message, "H-1 -1 <p>" + strings.Text(105) + "</p>");
  ui->ShowError(3, "kPXDaemonDisconnected", a);
  EXPECT_EQ(replies.All().back().message, "H-1 -1 ") << "no template 3: an empty page";
}

TEST_F(ServiceUserInterfaceTest, MessageKeysAndTheirTexts) {
  const std::pair<const char*, int> keys[] = {
      {"kPXDaemonCommunicationError", 101}, {"kPXDaemonAlreadyRunning", 102},
      {"kPXDaemonConnectionFailed", 103},   {"kPXDaemonErrorOccurred", 104},
      {"kPXDaemonDisconnected", 105},       {"kPXDaemonStationUnPlugged", 106},
      {"kpxdaemondisconnected", 107},       {"", 107}};
  for (const auto& [key, id] : keys) EXPECT_EQ(MessageStrings::IdForKey(key), id) << key;
  for (int id = 101; id <= 107; ++id) EXPECT_FALSE(strings.Text(id).empty()) << id;
  EXPECT_TRUE(strings.Text(100).empty());
  EXPECT_TRUE(strings.Text(108).empty());
  const std::string link =
      std::string("<a href=\"mailto:") + SupportAddress() + "\">" + SupportAddress() + "</a>.";
  for (int id : {104, 107}) {
    EXPECT_EQ(strings.Text(id).substr(strings.Text(id).size() - link.size()), link) << id;
  }
  EXPECT_EQ(strings.Text(106),
            "Your Pellux base station is no longer plugged in. Please plug in your base station "
            "and try again.");
}

TEST_F(ServiceUserInterfaceTest, PagesStatusLinesAndStatusRepliesReachTheUi) {
  auto ui = Make();
  EXPECT_TRUE(ui->DisplayHtml("<b>hi</b>", a, 300, 200));
  ui->Log("Uploading...", LogLevel::kStatus, a);
  ui->Log("not for the UI", LogLevel::kIgnored, a);
  EXPECT_TRUE(ui->SendStatusReply("1 1767225600", a));
  EXPECT_EQ(replies.All(), (std::vector<RecordingReplies::Sent>{
                               {"H300 200 <b>hi</b>", a},
                               {"IUploading...", a},
                               {"T1 1767225600", a},
                           }));
  EXPECT_EQ(ui->lines[0], "3 Sending 9 bytes of HTML to UI...");

  replies.answer = false;  // the UI's endpoint is gone
  EXPECT_FALSE(ui->DisplayHtml("x", a, -1, -1));
  EXPECT_FALSE(ui->SendStatusReply("0 0", a));
}

TEST_F(ServiceUserInterfaceTest, AnEndpointStaysWhileARequestOfItIsInFlight) {
  auto ui = Make();
  ReplyEndpoints& endpoints = ui->Endpoints();
  const UiSender alice = UserSender(1000);
  const auto start = clock.Now();
  const Context mine = endpoints.Intern(alice, "@a", start, {});
  exchange.Hold();
  NetworkRequest reported;
  reported.reportResult = true;
  reported.path = "/in-flight";
  ui->SendRequest(reported, mine);
  // Long past its linger, and with the user at his cap, it is not let go.
  for (std::size_t i = 0; i < ReplyEndpoints::kMaxPerUser + 10; ++i) {
    endpoints.Intern(alice, "@n" + std::to_string(i), start + 1h + std::chrono::seconds(i), {});
  }
  EXPECT_EQ(endpoints.Find(alice.user, "@a"), mine);
  exchange.Let();
  {
    std::unique_lock guard(answerMutex);
    ASSERT_TRUE(answered.wait_for(guard, 5s, [this] { return !answers.empty(); }));
    EXPECT_EQ(answers[0].context, mine) << "the answer comes back with the context, still valid";
    EXPECT_EQ(answers[0].context->name, "@a");
  }
  // Once the answer is handed on, the endpoint goes like any other.
  int step = 0;
  EXPECT_TRUE(Eventually([&] {
    ++step;
    endpoints.Intern(alice, "@later", start + 2h + std::chrono::seconds(2 * step), {});
    return endpoints.Find(alice.user, "@a") == kNoContext;
  }));
}

TEST_F(ServiceUserInterfaceTest, LocaleIsReadOnceAtConstruction) {
  EXPECT_EQ(Make()->GetLocale(a), "en_US");
  store.WriteText("Tracker", "Language", "de_DE");
  auto ui = Make();
  store.WriteText("Tracker", "Language", "fr_FR");
  EXPECT_EQ(ui->GetLocale(kNoContext), "de_DE");
}

TEST_F(ServiceUserInterfaceTest, ProxySettingsAreReadAtConstructionAndReplacedByTheUi) {
  // (Each bridge stops the shared workers when it goes, so the first one stays.)
  auto first = Make();
  ProxySettings defaults;
  defaults.selection = -1;
  defaults.autoDiscoveryFlags = 0xFFFFFFFF;
  defaults.flags = 0xFFFFFFFF;
  EXPECT_EQ(ProcessProxySettings::Get(), defaults);

  store.WriteNumber("Tracker", "ProxySelection", 1);
  store.WriteText("Tracker", "ProxyAutoConfigURL", "http://wpad/p.pac");
  store.WriteNumber("Tracker", "ProxyAutoDiscoveryFlags", 2);
  store.WriteNumber("Tracker", "ProxyFlags", 3);
  store.WriteText("Tracker", "ProxyBypass", "<local>");
  store.WriteText("Tracker", "ProxyServer", "p:3128");
  store.WriteText("Tracker", "ProxyServerOverride", "o:1");
  auto ui = Make();
  const ProxySettings stored{1, "http://wpad/p.pac", 2, 3, "<local>", "p:3128", "o:1"};
  EXPECT_EQ(ProcessProxySettings::Get(), stored);

  ProxySettings fromUi = stored;
  fromUi.server = "other:8080";
  ui->ReplaceProxySettings(fromUi);
  NetworkRequest request;
  request.path = "/x";
  ui->SendRequest(request, a);
  std::unique_lock guard(answerMutex);
  ASSERT_TRUE(answered.wait_for(guard, 5s, [this] { return !answers.empty(); }));
  std::lock_guard exchangeGuard(exchange.mutex);
  EXPECT_EQ(exchange.proxies.back(), fromUi);
}

TEST_F(ServiceUserInterfaceTest, AnswersReachTheEngineOnlyWhenAskedFor) {
  auto ui = Make();
  NetworkRequest silent;
  silent.path = "/silent";
  silent.reportResult = false;
  ui->SendRequest(silent, a);
  NetworkRequest reported;
  reported.path = "/reported";
  reported.requestNumber = 7;
  ui->SendRequest(reported, a);
  std::unique_lock guard(answerMutex);
  ASSERT_TRUE(answered.wait_for(guard, 5s, [this] { return !answers.empty(); }));
  guard.unlock();
  ui.reset();  // stops the workers: nothing more can arrive
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_FALSE(answers[0].failed);
  EXPECT_EQ(answers[0].body, "/reported");
  EXPECT_EQ(answers[0].number, 7u);
  EXPECT_EQ(answers[0].context, a);
  EXPECT_FALSE(pool.IsRunning());
}

TEST_F(ServiceUserInterfaceTest, ClientIdIsKeptInTheSettings) {
  auto ui = Make();
  const std::string id = ui->GetClientId();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(store.ReadText("Tracker", "ClientId"), id);
  EXPECT_EQ(ui->GetClientId(), id);
  EXPECT_FALSE(ui->GetOsDescription().empty());
}

TEST_F(ServiceUserInterfaceTest, LoggingMessageSwitchesTheActivityLog) {
  auto ui = Make();
  EXPECT_FALSE(ui->Activity().IsOpen());
  ui->ApplyLogging(5, 7);  // L 5 7: on, a file opens
  EXPECT_EQ(store.ReadNumber("Tracker", "LogActivity"), 1u);
  EXPECT_EQ(store.ReadNumber("Tracker", "MaxLogDays"), 7u);
  EXPECT_TRUE(ui->Activity().IsOpen());
  ui->Log("a line", LogLevel::kProgress, kNoContext);
  ui->ApplyLogging(1, 0);  // L 1 0: off, as if enabled were 0
  EXPECT_EQ(store.ReadNumber("Tracker", "MaxLogDays"), 0u);
  EXPECT_FALSE(ui->Activity().IsOpen());
  const std::string file = LogFile();
  EXPECT_NE(file.find("*** Pellux Data Uploader Service 1.2.3 ***"), std::string::npos);
  const std::string end(ActivityLog::kLineEnd);
  EXPECT_NE(file.find(" a line" + end), std::string::npos);
  const std::string disabled = std::string("<<< LOGGING DISABLED BY USER >>>") + end;
  EXPECT_EQ(file.substr(file.size() - disabled.size()), disabled);
  ui->Log("after", LogLevel::kProgress, kNoContext);
  EXPECT_EQ(LogFile(), file) << "nothing is written while logging is off";
}

TEST_F(ServiceUserInterfaceTest, LinesGoToTheUiThenTheActivityLogThenTheDebugOutput) {
  store.WriteNumber("Tracker", "LogActivity", 1);
  store.WriteNumber("Tracker", "MaxLogDays", 7);
  // What the log file already held when the line reached the UI, and the debug output.
  std::vector<bool> inFileAtUi;
  class Snooping final : public ReplyChannel {
   public:
    explicit Snooping(std::function<void()> onSend) : onSend_(std::move(onSend)) {}
    bool Send(const std::string&, Context) override {
      onSend_();
      return true;
    }

   private:
    std::function<void()> onSend_;
  } snooping([&] { inFileAtUi.push_back(LogFile().find("Uploading") != std::string::npos); });
  ObservedInterface second(ServiceUserInterface::Parts{
      store, pool, snooping, authority, strings, nullptr, "", "", folder, debug, clock, "1.2.3"});
  ASSERT_TRUE(second.Activity().Open());
  second.Log("Uploading 1 of 2", LogLevel::kStatus, a);
  EXPECT_EQ(inFileAtUi, std::vector<bool>{false});
  EXPECT_NE(LogFile().find(" Uploading 1 of 2" + std::string(ActivityLog::kLineEnd)),
            std::string::npos);
  const auto lines = debug.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "Uploading 1 of 2");
  EXPECT_EQ(lines.back().level, LogLevel::kStatus);

  second.Log("quiet", LogLevel::kDetail, a);
  EXPECT_EQ(inFileAtUi.size(), 1u) << "only status lines go to the UI";
  EXPECT_EQ(debug.Lines().back().text, "quiet");
}

TEST_F(ServiceUserInterfaceTest, GoingAwayMarksTheLog) {
  store.WriteNumber("Tracker", "LogActivity", 1);
  store.WriteNumber("Tracker", "MaxLogDays", 7);
  auto ui = Make();
  ASSERT_TRUE(ui->Activity().Open());
  ui.reset();
  const std::string file = LogFile();
  const std::string terminated =
      std::string("<<< APPLICATION TERMINATED >>>") + std::string(ActivityLog::kLineEnd);
  EXPECT_EQ(file.substr(file.size() - terminated.size()), terminated);
}

}  // namespace
}  // namespace Pellux
