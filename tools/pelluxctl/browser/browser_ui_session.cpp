#include "tools/pelluxctl/browser/browser_ui_session.h"

#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/random_bytes.h"
#include "tools/pelluxctl/browser/browser_opener.h"
#include "tools/pelluxctl/browser/browser_ui_server.h"
#include "ui/channel/status_record.h"
#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes of randomness in the page's token: 128 bits.
constexpr std::size_t kTokenBytes = 16;
// After the session has ended, how long the page has to hear it before the server goes.
constexpr std::chrono::milliseconds kLastWords{500};

class BrowserUiSession final : public BrowserUiRequests {
 public:
  BrowserUiSession(const PelluxctlOptions& options, UiConnection& connection, const PelluxctlIo& io,
                   std::string service)
      : options_(options), connection_(connection), io_(io), service_(std::move(service)) {}

  int Run() {
    std::string error;
    const auto token = RandomHex(kTokenBytes, error);
    if (!token) {
      io_.err << "pelluxctl: cannot make the page's secret: " << error << "\n";
      return kPelluxctlFailed;
    }
    server_ = BrowserUiServer::Start(*token, *this, error);
    if (!server_) {
      io_.err << "pelluxctl: cannot serve the page: " << error << "\n";
      return kPelluxctlFailed;
    }
    if (!Send(UiCode::kSession, options_.mode)) return kPelluxctlFailed;
    const std::string url = server_->Url();
    io_.out << "session " << options_.mode << " started; the page is at " << url << "\n";
    BrowserOpener opener;
    if (!options_.noBrowser && !opener.Open(url, error)) {
      io_.err << "pelluxctl: cannot open a browser: " << error
              << "; open the address above yourself\n";
    }
    io_.out << "the page's Finish, closing the page or Ctrl-C finishes the session\n" << std::flush;

    const std::string why = Loop();
    if (why.empty()) return kPelluxctlFailed;
    if (endedByService_) {
      server_->ShowEnded("The session has ended.");
      io_.out << "the service ended the session\n";
    } else {
      if (!Send(UiCode::kFinish, "")) return kPelluxctlFailed;
      server_->ShowEnded("The session is finished.");
      io_.out << "session finished (" << why << ")\n";
    }
    std::this_thread::sleep_for(kLastWords);
    server_.reset();
    return kPelluxctlOk;
  }

  // --- On the server's thread. ---

  bool OnFormPosted(int page, std::string formData) override {
    // The reply name does not change while the session runs: read here as on the main thread.
    const std::size_t size = JoinUiMessage(UiCode::kForm, connection_.ReplyName(), formData).size();
    if (size > kMaxUiMessageBytes) {
      OnProblem("the form of page " + std::to_string(page) + " makes a message of " +
                std::to_string(size) + " bytes, more than the service takes; not sent");
      return false;
    }
    const std::lock_guard lock(mutex_);
    forms_.emplace_back(page, std::move(formData));
    return true;
  }

  void OnFinishPressed() override {
    const std::lock_guard lock(mutex_);
    finishPressed_ = true;
  }

  void OnProblem(const std::string& line) override {
    const std::lock_guard lock(mutex_);
    problems_.push_back(line);
  }

 private:
  // Runs the session until it is to end: why, or empty when the service cannot be reached.
  std::string Loop() {
    auto nextPoll = Clock::now();
    while (!io_.interrupted.load()) {
      if (Clock::now() >= nextPoll) {
        if (!Send(UiCode::kStatusPoll, "") || !Send(UiCode::kStatusRecordRequest, "")) return {};
        nextPoll = Clock::now() + io_.pollInterval;
      }
      std::deque<std::pair<int, std::string>> forms;
      std::deque<std::string> problems;
      bool finish = false;
      {
        const std::lock_guard lock(mutex_);
        forms.swap(forms_);
        problems.swap(problems_);
        finish = finishPressed_;
      }
      for (const std::string& line : problems) io_.err << "pelluxctl: " << line << "\n";
      for (const auto& [page, data] : forms) {
        if (!SendForm(page, data)) return {};
      }
      if (finish) return "Finish pressed in the browser";
      if (server_->Presence(Clock::now()) == PagePresence::State::kClosed) {
        return "the page was closed";
      }
      if (endedByService_) return "ended by the service";
      std::string error;
      // Short waits, so that Ctrl-C and the page are seen soon.
      const auto reply = connection_.Receive(std::chrono::milliseconds(100), error);
      if (!reply) {
        if (!error.empty()) io_.err << "pelluxctl: " << error << "\n";
        continue;
      }
      OnReply(*reply);
    }
    return "Ctrl-C";
  }

  bool Send(char code, const std::string& rest) {
    return SendOrSay(connection_, JoinUiMessage(code, connection_.ReplyName(), rest), io_,
                     service_);
  }

  bool SendForm(int page, const std::string& data) {
    io_.out << "form of page " << page << " sent\n" << std::flush;
    return Send(UiCode::kForm, data);
  }

  void OnReply(const std::string& reply) {
    if (reply.empty()) return;
    const std::string_view text = std::string_view(reply).substr(1);
    switch (reply.front()) {
      case UiCode::kHtml: {
        auto page = DecodeHtml(text);
        if (!page) {
          io_.err << "pelluxctl: ignoring a page without its size\n";
          return;
        }
        io_.out << "page " << ++pages_ << " shown (" << page->html.size() << " bytes)\n"
                << std::flush;
        server_->ShowPage(std::move(*page));
        return;
      }
      case UiCode::kInfo:
        io_.out << "info: " << text << "\n" << std::flush;
        server_->ShowInfo(std::string(text));
        return;
      case UiCode::kStatusRecord:
        OnRecord(text);
        return;
      case UiCode::kStatus:
        return;
      default:
        io_.err << "pelluxctl: ignoring a reply with the unknown code '" << reply.front() << "'\n";
        return;
    }
  }

  // The record's mode tells whether the session still runs: once it has been ours, another
  // mode means that the service ended it (the server closed it, or another UI's finish).
  void OnRecord(std::string_view text) {
    const auto record = DecodeStatusRecord(text);
    if (!record) return;
    server_->ShowStatus(std::string(text));
    if (record->mode == options_.mode) {
      // Another user's session of the same mode is not ours.
      if (!record->session || record->session->own) seenOurs_ = true;
    } else if (seenOurs_) {
      endedByService_ = true;
    }
  }

  const PelluxctlOptions& options_;
  UiConnection& connection_;
  const PelluxctlIo& io_;
  const std::string service_;
  int pages_ = 0;
  bool seenOurs_ = false;
  bool endedByService_ = false;
  // What the server's thread hands over.
  std::mutex mutex_;
  std::deque<std::pair<int, std::string>> forms_;
  std::deque<std::string> problems_;
  bool finishPressed_ = false;
  // Last, so that it goes first: its thread calls the members above until it is joined.
  std::unique_ptr<BrowserUiServer> server_;
};

}  // namespace

int RunBrowserUi(const PelluxctlOptions& options, UiConnection& connection, const PelluxctlIo& io,
                 const std::string& service) {
  return BrowserUiSession(options, connection, io, service).Run();
}

}  // namespace Pellux
