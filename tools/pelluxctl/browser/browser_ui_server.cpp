#include "tools/pelluxctl/browser/browser_ui_server.h"

#include <algorithm>
#include <array>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "base/random_bytes.h"
#include "base/system_error.h"
#include "tools/pelluxctl/browser/form_fields.h"
#include "tools/pelluxctl/browser/frame_document.h"
#include "tools/pelluxctl/browser/page_feed.h"
#include "tools/pelluxctl/browser/request_guard.h"
#include "tools/pelluxctl/browser/ui_page.h"
#include "ui/channel/line_rate_limit.h"

namespace Pellux {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Response = http::response<http::string_body>;

// A request's head and body; bigger ones are answered 431 or 413.
constexpr std::size_t kHeaderLimit = std::size_t{8} * 1024;
constexpr std::size_t kBodyLimit = std::size_t{64} * 1024;
// How long a connection may take to send its request.
constexpr std::chrono::seconds kReadLimit{10};
// An idle event stream gets a comment this often, so that a browser that has gone is noticed.
constexpr std::chrono::seconds kKeepAlive{15};
// Connections and streams at once: more are closed as they come.
constexpr int kMaxConnections = 64;

// What the page may load: its own scripts and styles by nonce, its events and frame from this
// origin, nothing else.
std::string PagePolicy(const std::string& nonce) {
  return "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
         "'; connect-src 'self'; frame-src 'self'; img-src 'self'; form-action 'none'; "
         "base-uri 'none'; frame-ancestors 'none'";
}

// The service's page in the frame: no scripts at all, loads from this origin only, its forms
// posted here only, and only inside the page's frame.
constexpr const char* kFramePolicy =
    "default-src 'self'; script-src 'none'; style-src 'self' 'unsafe-inline'; form-action 'self'; "
    "base-uri 'none'; frame-ancestors 'self'; sandbox allow-forms";

constexpr const char* kNotePolicy =
    "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'self'; sandbox";

// A short page of ours in the frame.
std::string Note(std::string_view text) {
  std::string html =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body style=\"font: 15px "
      "system-ui, sans-serif; color: #5b6773; padding: 2em\"><p>";
  html += text;
  html += "</p></body></html>\n";
  return html;
}

Response MakeResponse(http::status status, unsigned version, std::string_view type,
                      std::string body, const std::string& policy) {
  Response response(status, version);
  response.set(http::field::server, "pelluxctl");
  response.set(http::field::content_type, type);
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("Referrer-Policy", "no-referrer");
  if (!policy.empty()) response.set("Content-Security-Policy", policy);
  response.keep_alive(false);
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

Response PlainResponse(http::status status, unsigned version, std::string body) {
  return MakeResponse(status, version, "text/plain; charset=utf-8", std::move(body),
                      "default-src 'none'; frame-ancestors 'none'");
}

class Server;

// Connections and streams open at once, shared with each, which gives its place back when it
// ends (also when the server's loop is torn down with handlers still waiting).
using Slots = std::shared_ptr<int>;

// An open event stream: the response's head, then events as they come, until the browser
// closes it. Lives on the server's thread.
class EventStream : public std::enable_shared_from_this<EventStream> {
 public:
  EventStream(tcp::socket socket, Server& server, Slots slots)
      : socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        server_(server),
        slots_(std::move(slots)) {}
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;
  ~EventStream() { --*slots_; }

  void Start(std::string first) {
    Push(std::move(first));
    WatchForClose();
    KeepAlive();
  }

  void Push(std::string text) {
    if (closed_ || text.empty()) return;
    queue_.push_back(std::move(text));
    if (!writing_) WriteNext();
  }

  void Close();

 private:
  void WriteNext() {
    writing_ = true;
    asio::async_write(socket_, asio::buffer(queue_.front()),
                      [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                        self->queue_.pop_front();
                        self->writing_ = false;
                        if (error) {
                          self->Close();
                        } else if (!self->queue_.empty()) {
                          self->WriteNext();
                        }
                      });
  }

  // The browser sends nothing more on this connection: a read ends when it closes it.
  void WatchForClose() {
    socket_.async_read_some(asio::buffer(sink_), [self = shared_from_this()](
                                                     boost::system::error_code error, std::size_t) {
      if (error) {
        self->Close();
      } else {
        self->WatchForClose();
      }
    });
  }

  void KeepAlive() {
    timer_.expires_after(kKeepAlive);
    timer_.async_wait([self = shared_from_this()](boost::system::error_code error) {
      if (error || self->closed_) return;
      self->Push(": keep-alive\n\n");
      self->KeepAlive();
    });
  }

  tcp::socket socket_;
  asio::steady_timer timer_;
  Server& server_;
  Slots slots_;
  std::deque<std::string> queue_;
  std::array<char, 256> sink_{};
  bool writing_ = false;
  bool closed_ = false;
};

// One request and its answer, then the connection is closed (or becomes an event stream).
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(tcp::socket socket, Server& server, Slots slots)
      : stream_(std::move(socket)), server_(server), slots_(std::move(slots)) {}
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;
  // A connection that became an event stream has handed its place to the stream.
  ~HttpConnection() {
    if (!handedOver_) --*slots_;
  }

  void Start() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    stream_.expires_after(kReadLimit);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                       self->OnRead(error);
                     });
  }

  void Respond(Response response) {
    auto held = std::make_shared<Response>(std::move(response));
    stream_.expires_after(kReadLimit);
    http::async_write(stream_, *held,
                      [self = shared_from_this(), held](boost::system::error_code, std::size_t) {
                        self->Finish();
                      });
  }

  tcp::socket TakeSocket() {
    handedOver_ = true;
    stream_.expires_never();
    return stream_.release_socket();
  }

 private:
  void OnRead(boost::system::error_code error);

  void Finish() {
    boost::system::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  Server& server_;
  Slots slots_;
  bool handedOver_ = false;
};

class Server final : public BrowserUiServer {
 public:
  Server(std::string token, BrowserUiRequests& requests)
      : token_(std::move(token)),
        requests_(requests),
        acceptor_(io_),
        retry_(io_),
        guard_(token_, 0),
        presence_(kReloadGrace) {}

  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server() override {
    // The streams are closed on the loop's thread, which then stops; requests still being read
    // are dropped with the loop.
    asio::post(io_, [this] {
      boost::system::error_code ignored;
      acceptor_.close(ignored);
      retry_.cancel();
      for (const auto& stream : std::vector(streams_)) stream->Close();
      io_.stop();
    });
    if (thread_.joinable()) thread_.join();
  }

  bool Listen(std::string& error) {
    boost::system::error_code code;
    const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
    acceptor_.open(loopback.protocol(), code);
    if (!code) acceptor_.bind(loopback, code);
    if (code) {
      error = SystemCallFailure("bind", "127.0.0.1, a free port", code.value());
      return false;
    }
    acceptor_.listen(asio::socket_base::max_listen_connections, code);
    if (code) {
      error = SystemCallFailure("listen", "127.0.0.1", code.value());
      return false;
    }
    guard_ = RequestGuard(token_, acceptor_.local_endpoint().port());
    Accept();
    thread_ = std::thread([this] { io_.run(); });
    return true;
  }

  [[nodiscard]] std::string Url() const override { return guard_.PageUrl(); }

  void ShowPage(HtmlPage page) override {
    asio::post(io_, [this, page = std::move(page)]() mutable {
      Broadcast(feed_.AddPage(std::move(page)));
    });
  }

  void ShowInfo(std::string line) override {
    asio::post(io_, [this, line = std::move(line)] { Broadcast(feed_.AddInfo(line)); });
  }

  void ShowStatus(std::string record) override {
    asio::post(io_, [this, record = std::move(record)] { Broadcast(feed_.SetStatus(record)); });
  }

  void ShowEnded(std::string text) override {
    asio::post(io_, [this, text = std::move(text)] { Broadcast(feed_.End(text)); });
  }

  [[nodiscard]] PagePresence::State Presence(PagePresence::TimePoint now) const override {
    const std::lock_guard lock(presenceMutex_);
    return presence_.At(now);
  }

  // --- On the server's thread. ---

  void Handle(const std::shared_ptr<HttpConnection>& connection,
              const http::request<http::string_body>& request) {
    const std::string host(request[http::field::host]);
    std::optional<std::string> origin;
    if (const auto found = request.find(http::field::origin); found != request.end()) {
      origin = std::string(found->value());
    }
    const std::string method(request.method_string());
    const RequestGuard::Verdict verdict =
        guard_.Check({method, request.target(), host,
                      origin ? std::optional<std::string_view>(*origin) : std::nullopt});
    const unsigned version = request.version();
    if (!verdict.allowed) {
      // Browsers ask for an icon at the root by themselves: refused without a word. A page
      // that keeps trying is said once a second.
      if (request.target() != "/favicon.ico" &&
          refusals_.Allow(verdict.why, std::chrono::system_clock::now())) {
        requests_.OnProblem("refused " + verdict.why + " (403)");
      }
      connection->Respond(PlainResponse(http::status::forbidden, version, "Forbidden\n"));
      return;
    }
    const std::string& path = verdict.path;
    const bool get = request.method() == http::verb::get;
    const bool post = request.method() == http::verb::post;
    if (path.empty() && get) {
      connection->Respond(ThePage(version));
    } else if (path == "events" && get) {
      OpenStream(connection->TakeSocket());
    } else if (const auto page = PageNumberOf(path, "/"); page && get) {
      connection->Respond(Frame(*page, version));
    } else if (const auto form = PageNumberOf(path, "/form"); form && post) {
      connection->Respond(Form(*form, request));
    } else if (path == "finish" && post) {
      requests_.OnFinishPressed();
      connection->Respond(PlainResponse(http::status::no_content, version, {}));
    } else if (get || post) {
      connection->Respond(PlainResponse(http::status::not_found, version, "Not found\n"));
    } else {
      connection->Respond(
          PlainResponse(http::status::method_not_allowed, version, "Method not allowed\n"));
    }
  }

  void StreamClosed(EventStream* stream) {
    const auto found = std::ranges::find_if(
        streams_,
        [stream](const std::shared_ptr<EventStream>& held) { return held.get() == stream; });
    if (found == streams_.end()) return;
    streams_.erase(found);
    const std::lock_guard lock(presenceMutex_);
    presence_.StreamClosed(std::chrono::steady_clock::now());
  }

 private:
  void Accept() {
    acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
      if (error == asio::error::operation_aborted) return;
      if (error) {
        // Out of descriptors, most likely: said, and tried again in a moment.
        requests_.OnProblem(SystemCallFailure("accept", "127.0.0.1", error.value()));
        retry_.expires_after(std::chrono::milliseconds(200));
        retry_.async_wait([this](boost::system::error_code waited) {
          if (!waited) Accept();
        });
        return;
      }
      // Past the limit a connection is closed at once (the socket goes with this handler).
      if (*slots_ < kMaxConnections) {
        ++*slots_;
        std::make_shared<HttpConnection>(std::move(socket), *this, slots_)->Start();
      }
      Accept();
    });
  }

  void Broadcast(const std::string& event) {
    if (event.empty()) return;
    for (const auto& stream : std::vector(streams_)) stream->Push(event);
  }

  Response ThePage(unsigned version) {
    std::string error;
    const auto nonce = RandomHex(16, error);
    if (!nonce) {
      requests_.OnProblem(error);
      return PlainResponse(http::status::internal_server_error, version, "No random numbers\n");
    }
    std::string html(kUiPageHtml);
    constexpr std::string_view kMark = "{{nonce}}";
    for (std::size_t at = html.find(kMark); at != std::string::npos; at = html.find(kMark, at)) {
      html.replace(at, kMark.size(), *nonce);
    }
    return MakeResponse(http::status::ok, version, "text/html; charset=utf-8", std::move(html),
                        PagePolicy(*nonce));
  }

  Response Frame(int number, unsigned version) {
    const PageFeed::Page* page = feed_.CurrentPage(number);
    if (page == nullptr) {
      return MakeResponse(http::status::gone, version, "text/html; charset=utf-8",
                          Note("This page has been replaced by a newer one."), kNotePolicy);
    }
    const std::string action =
        guard_.Origin() + "/" + token_ + "/page/" + std::to_string(number) + "/form";
    return MakeResponse(http::status::ok, version, "text/html; charset=utf-8",
                        FrameDocument(page->page.html, action), kFramePolicy);
  }

  Response Form(int number, const http::request<http::string_body>& request) {
    const unsigned version = request.version();
    const auto type = request[http::field::content_type];
    if (!boost::algorithm::istarts_with(type, "application/x-www-form-urlencoded")) {
      return PlainResponse(http::status::unsupported_media_type, version,
                           "A form is sent as application/x-www-form-urlencoded\n");
    }
    PageFeed::Page* page = feed_.CurrentPage(number);
    if (page == nullptr) {
      return MakeResponse(http::status::gone, version, "text/html; charset=utf-8",
                          Note("This page has been replaced by a newer one; its form was not "
                               "sent."),
                          kNotePolicy);
    }
    if (page->answered) {
      return MakeResponse(http::status::conflict, version, "text/html; charset=utf-8",
                          Note("This form has already been sent."), kNotePolicy);
    }
    std::string why;
    const auto fields = DecodeBrowserForm(request.body(), &why);
    if (!fields) {
      requests_.OnProblem("a form that cannot be read (" + why + "); not sent");
      return PlainResponse(http::status::bad_request, version, "The form cannot be read\n");
    }
    if (!requests_.OnFormPosted(number, EncodeFormFields(*fields))) {
      return MakeResponse(http::status::payload_too_large, version, "text/html; charset=utf-8",
                          Note("This form is too long for the Pellux service; it was not sent."),
                          kNotePolicy);
    }
    page->answered = true;
    return MakeResponse(http::status::ok, version, "text/html; charset=utf-8",
                        Note("Sent. Waiting for the Pellux service&hellip;"), kNotePolicy);
  }

  void OpenStream(tcp::socket socket) {
    auto stream = std::make_shared<EventStream>(std::move(socket), *this, slots_);
    streams_.push_back(stream);
    {
      const std::lock_guard lock(presenceMutex_);
      presence_.StreamOpened();
    }
    stream->Start(
        "HTTP/1.1 200 OK\r\nServer: pelluxctl\r\nContent-Type: text/event-stream\r\n"
        "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" +
        feed_.Snapshot());
  }

  const std::string token_;
  BrowserUiRequests& requests_;
  asio::io_context io_;
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  RequestGuard guard_;
  LineRateLimit refusals_;
  PageFeed feed_;
  std::vector<std::shared_ptr<EventStream>> streams_;
  Slots slots_ = std::make_shared<int>(0);
  mutable std::mutex presenceMutex_;
  PagePresence presence_;
  std::thread thread_;
};

void EventStream::Close() {
  if (closed_) return;
  closed_ = true;
  boost::system::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
  server_.StreamClosed(this);
}

void HttpConnection::OnRead(boost::system::error_code error) {
  if (error == http::error::body_limit) {
    Respond(PlainResponse(http::status::payload_too_large, 11, "Too large\n"));
    return;
  }
  if (error == http::error::header_limit) {
    Respond(PlainResponse(http::status::request_header_fields_too_large, 11, "Too large\n"));
    return;
  }
  if (error) return;
  server_.Handle(shared_from_this(), parser_->release());
}

}  // namespace

std::unique_ptr<BrowserUiServer> BrowserUiServer::Start(std::string token,
                                                        BrowserUiRequests& requests,
                                                        std::string& error) {
  auto server = std::make_unique<Server>(std::move(token), requests);
  if (!server->Listen(error)) return nullptr;
  return server;
}

}  // namespace Pellux
