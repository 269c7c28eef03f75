#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Pellux {

// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header named `name` (any case), or empty.
  [[nodiscard]] std::string Header(const std::string& name) const;
};

// How the server answers one request to the upload endpoint. An answer to HEAD, and one with
// status 204 or 304, carries no body but announces the length `body` has, as servers do.
struct ServerReply {
  enum class Kind {
    Document,      // status 200 (or `status`) with `body`
    Stall,         // reads the request, then says nothing until the server stops
    CloseMidBody,  // announces `body` plus 1000 bytes, sends `body`, closes
    Huge,          // status 200 with `size` bytes of XML-ish filler
    Redirect,      // `status` (a 3xx) with a "Location" header of `location` and `body`
    Challenge,     // 401 with "WWW-Authenticate", or 407 with "Proxy-Authenticate", of `challenge`
  };
  Kind kind = Kind::Document;
  int status = 200;
  std::string body;
  std::size_t size = 0;
  std::string location;
  std::string challenge;

  static ServerReply Document(std::string body, int status = 200) {
    return {Kind::Document, status, std::move(body), 0, {}, {}};
  }
  static ServerReply Stalling() { return {Kind::Stall, 200, {}, 0, {}, {}}; }
  static ServerReply ClosingMidBody(std::string body) {
    return {Kind::CloseMidBody, 200, std::move(body), 0, {}, {}};
  }
  static ServerReply Huge(std::size_t size) { return {Kind::Huge, 200, {}, size, {}, {}}; }
  // The body is the server's own note that the document moved; a client that follows the
  // redirect must not take it for the answer.
  static ServerReply Redirect(int status, std::string location) {
    return {Kind::Redirect, status, "<moved/>", 0, std::move(location), {}};
  }
  // Asks the client to authenticate: `status` 401 for the server itself, 407 as a proxy;
  // `challenge` is the header's value, "Basic realm=\"uploads\"" say.
  static ServerReply Challenge(int status, std::string challenge) {
    return {Kind::Challenge, status, "<denied/>", 0, {}, std::move(challenge)};
  }
};

// A loopback HTTP/1.1 upload server for tests and the demo: it answers the upload endpoint with
// a scripted sequence of replies, the error endpoint with an empty 200, and records every
// request. One connection per request ("Connection: close"). Thread-safe.
class ReferenceServer {
 public:
  static constexpr const char* kErrorPath = "/device/tracker/errors";
  // What the upload endpoint answers once the script has run out: the session may close.
  static constexpr const char* kClosingDocument = "<p><device action=\"close\"/></p>";

  static constexpr const char* kLoopback = "127.0.0.1";
  static constexpr const char* kLoopbackV6 = "::1";

  // Listens on `address` (a loopback address) at `port` (0: any free port) and starts serving
  // at once. Throws boost::system::system_error when it cannot listen there, as on a machine
  // without an IPv6 loopback.
  explicit ReferenceServer(std::uint16_t port = 0, const std::string& address = kLoopback);
  ReferenceServer(const ReferenceServer&) = delete;
  ReferenceServer& operator=(const ReferenceServer&) = delete;
  ~ReferenceServer();

  [[nodiscard]] std::uint16_t Port() const { return port_; }

  // Appends replies for the upload endpoint, answered in order.
  void Script(ServerReply reply);
  void ScriptDocuments(const std::vector<std::string>& documents);
  // Documents of a scenario file: separated by lines that hold only "---".
  static std::vector<std::string> ParseScenario(const std::string& text);

  [[nodiscard]] std::vector<RecordedRequest> Requests() const;
  // Waits until `count` requests have been received, at most `timeout`.
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
  // Bytes received (request bodies) and sent (response bodies) so far.
  [[nodiscard]] std::size_t BytesReceived() const;
  [[nodiscard]] std::size_t BytesSent() const;
  // Connections accepted so far, also those that never sent a whole HTTP request.
  [[nodiscard]] std::size_t ConnectionsAccepted() const;

  // Closes the listener and every open connection, and joins every thread.
  void Stop();

 private:
  using Socket = boost::asio::ip::tcp::socket;

  void Accept();
  void Serve(const std::shared_ptr<Socket>& socket);
  bool ReadRequest(Socket& socket, RecordedRequest& request);
  ServerReply NextReply(const RecordedRequest& request);
  void Answer(Socket& socket, const ServerReply& reply, const std::string& method);

  boost::asio::io_context io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::ip::address address_;
  std::uint16_t port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<ServerReply> script_;
  std::vector<RecordedRequest> requests_;
  std::size_t bytesReceived_ = 0;
  std::size_t bytesSent_ = 0;
  std::size_t connectionsAccepted_ = 0;
  std::vector<std::weak_ptr<Socket>> open_;
  std::vector<std::thread> connections_;
};

}  // namespace Pellux
