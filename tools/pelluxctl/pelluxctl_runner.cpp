#include "tools/pelluxctl/pelluxctl_runner.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "tools/pelluxctl/browser/browser_ui_session.h"
#include "tools/pelluxctl/doctor/doctor_command.h"
#include "tools/pelluxctl/private_folder.h"
#include "tools/pelluxctl/status_follower.h"
#include "tools/pelluxctl/status_text.h"
#include "ui/channel/status_record.h"
#include "ui/channel/ui_message.h"
#include "ui/log/local_time.h"

namespace Pellux {
namespace {

using Clock = std::chrono::steady_clock;

StatusText LocalStatusText() {
  return StatusText([](std::int64_t seconds) {
    return FormatLocalTime("%Y-%m-%d %H:%M:%S",
                           std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
  });
}

// The record's text and what it says.
struct ReceivedRecord {
  std::string text;
  StatusRecord record;
};

// Waits until `until` for the service's status record, skipping every other reply (a page or a
// status line of a session this endpoint had). Nullopt when none came or it made no sense
// (said on `err`).
std::optional<ReceivedRecord> WaitForRecord(UiConnection& connection, const PelluxctlIo& io,
                                            Clock::time_point until) {
  while (Clock::now() < until && !io.interrupted.load()) {
    std::string error;
    // Short waits, so that Ctrl-C is seen soon.
    const auto wait =
        std::min(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()),
                 std::chrono::milliseconds(100));
    const auto reply = connection.Receive(std::max(wait, std::chrono::milliseconds(1)), error);
    if (!reply) {
      if (!error.empty()) io.err << "pelluxctl: " << error << "\n";
      continue;
    }
    if (reply->empty() || reply->front() != UiCode::kStatusRecord) continue;
    std::string text = reply->substr(1);
    std::string why;
    auto record = DecodeStatusRecord(text, &why);
    if (!record) {
      io.err << "pelluxctl: the service's status record makes no sense (" << why << ")\n";
      return std::nullopt;
    }
    return ReceivedRecord{std::move(text), std::move(*record)};
  }
  return std::nullopt;
}

int Status(UiConnection& connection, const PelluxctlIo& io, const std::string& service, bool json) {
  if (!SendOrSay(connection, JoinUiMessage(UiCode::kStatusRecordRequest, connection.ReplyName()),
                 io, service)) {
    return kPelluxctlFailed;
  }
  const auto received = WaitForRecord(connection, io, Clock::now() + io.answerTimeout);
  if (!received) {
    if (!io.interrupted.load()) {
      io.err << "pelluxctl: the service did not answer within " << io.answerTimeout.count()
             << " ms\n";
    }
    return kPelluxctlFailed;
  }
  if (json) {
    io.out << received->text << "\n";
  } else {
    io.out << LocalStatusText().Describe(received->record);
  }
  return kPelluxctlOk;
}

// status --follow: asks for the record every followInterval and shows what changed, until
// Ctrl-C. A service that is not running or does not answer is said once, and followed again
// when it comes back. With --json, each record that differs from the last in more than its
// time, as one line.
int FollowStatus(UiConnection& connection, const PelluxctlIo& io, const std::string& service,
                 bool json) {
  StatusFollower follower(io.out, LocalStatusText(), {io.terminal, true});
  std::optional<StatusRecord> lastShown;
  while (!io.interrupted.load()) {
    const auto next = Clock::now() + io.followInterval;
    std::string error;
    const auto sent =
        connection.Send(JoinUiMessage(UiCode::kStatusRecordRequest, connection.ReplyName()), error);
    if (sent == UiConnection::SendResult::kUntrusted) {
      follower.EndProgress();
      io.err << "pelluxctl: not sending anything to " << service << ": " << error << "\n";
      return kPelluxctlFailed;
    }
    std::optional<ReceivedRecord> received;
    if (sent == UiConnection::SendResult::kSent) {
      received = WaitForRecord(connection, io, next);
    }
    if (!received) {
      if (io.interrupted.load()) break;
      follower.Lost(sent == UiConnection::SendResult::kSent
                        ? "the service does not answer"
                        : "the service is not running (nothing listens at " + service + ")");
    } else if (json) {
      StatusRecord timeless = received->record;
      timeless.now = 0;
      if (timeless != lastShown) io.out << received->text << "\n" << std::flush;
      lastShown = timeless;
    } else {
      follower.Show(received->record);
    }
    // What is left of the interval, in short steps, so that Ctrl-C is seen soon.
    while (Clock::now() < next && !io.interrupted.load()) {
      std::this_thread::sleep_for(
          std::min(std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()),
                   std::chrono::milliseconds(100)));
    }
  }
  follower.EndProgress();
  return kPelluxctlOk;
}

// Lines of standard input, read on a thread of their own so that the session keeps polling.
class InputLines {
 public:
  explicit InputLines(std::istream& in) : state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_, &in] {
      std::string line;
      while (std::getline(in, line)) {
        std::lock_guard guard(state->mutex);
        state->lines.push_back(line);
      }
      std::lock_guard guard(state->mutex);
      state->done = true;
    });
  }
  InputLines(const InputLines&) = delete;
  InputLines& operator=(const InputLines&) = delete;
  ~InputLines() {
    bool done = false;
    {
      std::lock_guard guard(state_->mutex);
      done = state_->done;
    }
    // A terminal that is still open cannot be interrupted portably: the process ends with the
    // reader still waiting, which owns its state.
    if (done) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

  std::deque<std::string> Take() {
    std::lock_guard guard(state_->mutex);
    return std::exchange(state_->lines, {});
  }

 private:
  struct State {
    std::mutex mutex;
    std::deque<std::string> lines;
    bool done = false;
  };
  std::shared_ptr<State> state_;
  std::thread thread_;
};

class Session {
 public:
  Session(const PelluxctlOptions& options, UiConnection& connection, const PelluxctlIo& io,
          std::string service)
      : options_(options),
        connection_(connection),
        io_(io),
        service_(std::move(service)),
        follower_(io.out, LocalStatusText(), {io.terminal, false}) {}

  int Run() {
    if (options_.html != "-" && !PrepareFolder()) return kPelluxctlFailed;
    bool fromInput = false;
    for (const std::string& form : options_.forms) {
      if (form == "-") {
        fromInput = true;
      } else {
        forms_.push_back(form);
      }
    }
    std::unique_ptr<InputLines> input;
    if (fromInput) input = std::make_unique<InputLines>(io_.in);

    if (!Send(UiCode::kSession, options_.mode)) return kPelluxctlFailed;
    Out() << "session " << options_.mode << " started; Ctrl-C finishes it\n";
    auto nextPoll = Clock::now();
    while (!io_.interrupted.load()) {
      if (Clock::now() >= nextPoll) {
        if (!Send(UiCode::kStatusPoll, "")) return kPelluxctlFailed;
        // The record, for the session's progress.
        if (!Send(UiCode::kStatusRecordRequest, "")) return kPelluxctlFailed;
        nextPoll = Clock::now() + io_.pollInterval;
      }
      if (input) {
        for (const std::string& line : input->Take()) {
          if (!SendForm(line)) return kPelluxctlFailed;
        }
      }
      std::string error;
      // Short waits, so that Ctrl-C is seen soon.
      const auto reply = connection_.Receive(std::chrono::milliseconds(100), error);
      if (!reply) {
        if (!error.empty()) io_.err << "pelluxctl: " << error << "\n";
        continue;
      }
      if (!OnReply(*reply)) return kPelluxctlFailed;
    }
    if (!Send(UiCode::kFinish, "")) return kPelluxctlFailed;
    Out() << "session finished\n";
    return kPelluxctlOk;
  }

 private:
  // Standard output, after a progress line being redrawn.
  std::ostream& Out() {
    follower_.EndProgress();
    return io_.out;
  }

  bool Send(char code, const std::string& rest) {
    return SendOrSay(connection_, JoinUiMessage(code, connection_.ReplyName(), rest), io_,
                     service_);
  }

  bool SendForm(const std::string& data) {
    if (JoinUiMessage(UiCode::kForm, connection_.ReplyName(), data).size() > kMaxUiMessageBytes) {
      io_.err << "pelluxctl: form data of " << data.size() << " bytes is too long; not sent\n";
      return true;
    }
    Out() << "form sent\n";
    return Send(UiCode::kForm, data);
  }

  bool PrepareFolder() {
    folder_ = options_.html;
    if (folder_.empty()) {
      // A new folder of our own, never named after the reply name (which may be a path).
      std::string why;
      const std::optional<std::string> made = MakePrivateFolder(why);
      if (!made) {
        io_.err << "pelluxctl: cannot make a folder for pages: " << why << "\n";
        return false;
      }
      folder_ = *made;
      return true;
    }
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) {
      io_.err << "pelluxctl: cannot make the folder for pages " << folder_ << ": "
              << error.message() << "\n";
      return false;
    }
    return true;
  }

  bool OnReply(const std::string& reply) {
    if (reply.empty()) return true;
    const std::string_view text = std::string_view(reply).substr(1);
    switch (reply.front()) {
      case UiCode::kInfo:
        Out() << "info: " << text << "\n";
        return true;
      case UiCode::kStatus:
        return true;
      case UiCode::kStatusRecord: {
        if (const auto record = DecodeStatusRecord(text)) follower_.Show(*record);
        return true;
      }
      case UiCode::kHtml:
        return OnPage(text);
      default:
        io_.err << "pelluxctl: ignoring a reply with the unknown code '" << reply.front() << "'\n";
        return true;
    }
  }

  bool OnPage(std::string_view text) {
    const auto page = DecodeHtml(text);
    if (!page) {
      io_.err << "pelluxctl: ignoring a page without its size\n";
      return true;
    }
    ++pages_;
    if (options_.html == "-") {
      Out() << "--- page " << pages_ << " (" << page->width << "x" << page->height << ") ---\n"
            << page->html << "\n--- end of page " << pages_ << " ---\n";
    } else {
      const std::string path =
          (std::filesystem::path(folder_) / ("page-" + std::to_string(pages_) + ".html")).string();
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      file << page->html;
      if (!file.flush()) {
        io_.err << "pelluxctl: cannot write the page to " << path << "\n";
        return false;
      }
      Out() << "page " << pages_ << " (" << page->width << "x" << page->height << "): " << path
            << "\n";
    }
    // The form data from the command line answers the first page.
    if (pages_ == 1) {
      for (const std::string& form : forms_) {
        if (!SendForm(form)) return false;
      }
    }
    return true;
  }

  const PelluxctlOptions& options_;
  UiConnection& connection_;
  const PelluxctlIo& io_;
  const std::string service_;
  std::vector<std::string> forms_;
  std::string folder_;
  int pages_ = 0;
  StatusFollower follower_;
};

}  // namespace

bool SendOrSay(UiConnection& connection, const std::string& message, const PelluxctlIo& io,
               const std::string& service) {
  std::string error;
  switch (connection.Send(message, error)) {
    case UiConnection::SendResult::kSent:
      return true;
    case UiConnection::SendResult::kNotRunning:
      io.err << "pelluxctl: the Pellux service is not running (nothing listens at " << service
             << ")\n";
      return false;
    case UiConnection::SendResult::kUntrusted:
      io.err << "pelluxctl: not sending anything to " << service << ": " << error << "\n";
      return false;
    case UiConnection::SendResult::kFailed:
      io.err << "pelluxctl: the service refused the message: " << error << "\n";
      return false;
  }
  return false;
}

int RunPelluxctl(const PelluxctlOptions& options, UiConnection& connection, const PelluxctlIo& io) {
  const std::string service =
      options.service.empty() ? UiConnection::DefaultServiceName() : options.service;
  const std::string& reply = connection.ReplyName();
  using Command = PelluxctlOptions::Command;
  switch (options.command) {
    case Command::kStatus:
      return options.follow ? FollowStatus(connection, io, service, options.json)
                            : Status(connection, io, service, options.json);
    case Command::kLogging: {
      const LoggingRequest request{options.loggingOn ? 1 : 0,
                                   options.loggingOn ? options.logDays : 0};
      return SendOrSay(connection, JoinUiMessage(UiCode::kLogging, reply, EncodeLogging(request)),
                       io, service)
                 ? kPelluxctlOk
                 : kPelluxctlFailed;
    }
    case Command::kProxy:
      return SendOrSay(connection, JoinUiMessage(UiCode::kProxy, reply, EncodeProxy(options.proxy)),
                       io, service)
                 ? kPelluxctlOk
                 : kPelluxctlFailed;
    case Command::kRefresh:
      return SendOrSay(connection, JoinUiMessage(UiCode::kRefresh, reply), io, service)
                 ? kPelluxctlOk
                 : kPelluxctlFailed;
    case Command::kOpen:
      return SendOrSay(connection, JoinUiMessage(UiCode::kOpenUrl, reply, options.url), io, service)
                 ? kPelluxctlOk
                 : kPelluxctlFailed;
    case Command::kFinish:
      return SendOrSay(connection, JoinUiMessage(UiCode::kFinish, reply), io, service)
                 ? kPelluxctlOk
                 : kPelluxctlFailed;
    case Command::kSession:
      return Session(options, connection, io, service).Run();
    case Command::kDoctor:
      return RunDoctorCommand(options, connection, io);
    case Command::kUi:
      return RunBrowserUi(options, connection, io, service);
  }
  return kPelluxctlFailed;
}

}  // namespace Pellux
