#include "sim/reference_server.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <istream>
#include <sstream>

namespace Pellux {
namespace {

// Requests larger than this are cut off: the server is for tests, not for floods.
constexpr std::size_t kMaxRequestBody = std::size_t{64} * 1024 * 1024;

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 407:
      return "Proxy Authentication Required";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

// `extra` holds whole header lines, each ending in CR LF.
std::string Head(int status, std::size_t length, const std::string& extra = {}) {
  return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n" + extra +
         "Content-Type: text/xml\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n\r\n";
}

// HTTP gives no body to these answers, whatever length their head announces.
bool Bodyless(const std::string& method, int status) {
  return method == "HEAD" || (status >= 100 && status < 200) || status == 204 || status == 304;
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  const std::string wanted = boost::algorithm::to_lower_copy(name);
  for (const auto& [key, value] : headers) {
    if (boost::algorithm::to_lower_copy(key) == wanted) return value;
  }
  return {};
}

ReferenceServer::ReferenceServer(std::uint16_t port, const std::string& address)
    : acceptor_(io_), address_(boost::asio::ip::make_address(address)) {
  const boost::asio::ip::tcp::endpoint endpoint(address_, port);
  acceptor_.open(endpoint.protocol());
  acceptor_.set_option(boost::asio::socket_base::reuse_address(true));
  acceptor_.bind(endpoint);
  acceptor_.listen();
  port_ = acceptor_.local_endpoint().port();
  acceptThread_ = std::thread([this] { Accept(); });
}

ReferenceServer::~ReferenceServer() {
  Stop();
}

void ReferenceServer::Script(ServerReply reply) {
  std::lock_guard guard(mutex_);
  script_.push_back(std::move(reply));
}

void ReferenceServer::ScriptDocuments(const std::vector<std::string>& documents) {
  for (const std::string& document : documents) Script(ServerReply::Document(document));
}

std::vector<std::string> ReferenceServer::ParseScenario(const std::string& text) {
  std::vector<std::string> documents;
  std::istringstream lines(text);
  std::string line;
  std::string document;
  const auto flush = [&] {
    boost::algorithm::trim(document);
    if (!document.empty()) documents.push_back(document);
    document.clear();
  };
  while (std::getline(lines, line)) {
    if (boost::algorithm::trim_copy(line) == "---") {
      flush();
    } else {
      document += line + "\n";
    }
  }
  flush();
  return documents;
}

std::vector<RecordedRequest> ReferenceServer::Requests() const {
  std::lock_guard guard(mutex_);
  return requests_;
}

bool ReferenceServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock guard(mutex_);
  return changed_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

std::size_t ReferenceServer::BytesReceived() const {
  std::lock_guard guard(mutex_);
  return bytesReceived_;
}

std::size_t ReferenceServer::BytesSent() const {
  std::lock_guard guard(mutex_);
  return bytesSent_;
}

std::size_t ReferenceServer::ConnectionsAccepted() const {
  std::lock_guard guard(mutex_);
  return connectionsAccepted_;
}

void ReferenceServer::Stop() {
  std::vector<std::thread> connections;
  {
    std::lock_guard guard(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (const auto& weak : open_) {
      if (const auto socket = weak.lock()) {
        boost::system::error_code ignored;
        socket->shutdown(Socket::shutdown_both, ignored);
      }
    }
  }
  changed_.notify_all();
  // A connection to ourselves wakes the blocking accept.
  {
    boost::system::error_code ignored;
    boost::asio::io_context wake;
    Socket socket(wake);
    socket.connect({address_, port_}, ignored);
  }
  if (acceptThread_.joinable()) acceptThread_.join();
  {
    std::lock_guard guard(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& connection : connections) connection.join();
}

void ReferenceServer::Accept() {
  for (;;) {
    auto socket = std::make_shared<Socket>(io_);
    boost::system::error_code error;
    acceptor_.accept(*socket, error);
    std::lock_guard guard(mutex_);
    if (stopping_) break;
    if (error) continue;
    ++connectionsAccepted_;
    open_.push_back(socket);
    connections_.emplace_back([this, socket] { Serve(socket); });
  }
  boost::system::error_code ignored;
  acceptor_.close(ignored);
}

void ReferenceServer::Serve(const std::shared_ptr<Socket>& socket) {
  RecordedRequest request;
  if (!ReadRequest(*socket, request)) return;
  ServerReply reply;
  {
    std::lock_guard guard(mutex_);
    bytesReceived_ += request.body.size();
    requests_.push_back(request);
    reply = NextReply(request);
  }
  changed_.notify_all();
  Answer(*socket, reply, request.method);
  // Under the lock: Stop() shuts every open socket down under it, and a close at the same
  // time would change the socket under its hands.
  std::lock_guard guard(mutex_);
  boost::system::error_code ignored;
  socket->shutdown(Socket::shutdown_both, ignored);
  socket->close(ignored);
}

bool ReferenceServer::ReadRequest(Socket& socket, RecordedRequest& request) {
  boost::asio::streambuf buffer;
  boost::system::error_code error;
  boost::asio::read_until(socket, buffer, "\r\n\r\n", error);
  if (error) return false;
  std::istream head(&buffer);
  std::string line;
  std::getline(head, line);
  std::istringstream requestLine(line);
  std::string version;
  requestLine >> request.method >> request.path >> version;
  std::size_t length = 0;
  while (std::getline(head, line) && line != "\r" && !line.empty()) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    std::string value = boost::algorithm::trim_copy(line.substr(colon + 1));
    if (boost::algorithm::to_lower_copy(name) == "content-length") {
      try {
        length = static_cast<std::size_t>(
            std::min<unsigned long long>(std::stoull(value), kMaxRequestBody));
      } catch (const std::exception&) {
        length = 0;
      }
    }
    request.headers.emplace_back(std::move(name), std::move(value));
  }
  // What read_until read past the head belongs to the body.
  std::string rest((std::istreambuf_iterator<char>(&buffer)), std::istreambuf_iterator<char>());
  request.body = rest.substr(0, length);
  if (request.body.size() < length) {
    std::string more(length - request.body.size(), '\0');
    boost::asio::read(socket, boost::asio::buffer(more), error);
    if (error) return false;
    request.body += more;
  }
  return true;
}

ServerReply ReferenceServer::NextReply(const RecordedRequest& request) {
  if (request.path == kErrorPath) return ServerReply::Document("");
  if (script_.empty()) return ServerReply::Document(kClosingDocument);
  ServerReply reply = std::move(script_.front());
  script_.pop_front();
  return reply;
}

void ReferenceServer::Answer(Socket& socket, const ServerReply& reply, const std::string& method) {
  const bool bodyless = Bodyless(method, reply.status);
  boost::system::error_code error;
  std::size_t sent = 0;
  // Writes the head, and `body` unless the answer has none.
  const auto send = [&](const std::string& head, const std::string& body) {
    const std::string text = bodyless ? head : head + body;
    boost::asio::write(socket, boost::asio::buffer(text), error);
    if (!error && !bodyless) sent = body.size();
  };
  switch (reply.kind) {
    case ServerReply::Kind::Document:
      send(Head(reply.status, reply.body.size()), reply.body);
      break;
    case ServerReply::Kind::Stall: {
      std::unique_lock guard(mutex_);
      changed_.wait(guard, [this] { return stopping_; });
      return;
    }
    case ServerReply::Kind::CloseMidBody:
      send(Head(reply.status, reply.body.size() + 1000), reply.body);
      break;
    case ServerReply::Kind::Redirect:
      send(Head(reply.status, reply.body.size(), "Location: " + reply.location + "\r\n"),
           reply.body);
      break;
    case ServerReply::Kind::Challenge: {
      const char* header = reply.status == 407 ? "Proxy-Authenticate: " : "WWW-Authenticate: ";
      send(Head(reply.status, reply.body.size(), header + reply.challenge + "\r\n"), reply.body);
      break;
    }
    case ServerReply::Kind::Huge: {
      send(Head(reply.status, reply.size), {});
      const std::string chunk(std::size_t{64} * 1024, 'x');
      while (!error && !bodyless && sent < reply.size) {
        const std::size_t part = std::min(chunk.size(), reply.size - sent);
        boost::asio::write(socket, boost::asio::buffer(chunk.data(), part), error);
        if (!error) sent += part;
      }
      break;
    }
  }
  std::lock_guard guard(mutex_);
  bytesSent_ += sent;
}

}  // namespace Pellux
