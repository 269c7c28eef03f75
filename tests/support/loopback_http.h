#pragma once

// One HTTP request to a server on this machine's loopback, and its answer, for tests of
// pelluxctl's browser page (Boost.Beast, on Linux and under Wine).

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace Pellux {

struct LoopbackReply {
  unsigned status = 0;
  std::string body;
  std::string type;
  std::string policy;
};

// `host` and `origin` are sent as given (nullopt: no such header); a POST carries `body` as
// `type`. Throws boost::system::system_error when the server cannot be reached.
inline LoopbackReply LoopbackHttp(std::uint16_t port, boost::beast::http::verb method,
                                  const std::string& target, std::optional<std::string> host,
                                  std::optional<std::string> origin = std::nullopt,
                                  std::string body = {},
                                  const std::string& type = "application/x-www-form-urlencoded") {
  namespace http = boost::beast::http;
  boost::asio::io_context io;
  boost::beast::tcp_stream stream(io);
  stream.expires_after(std::chrono::seconds(10));
  stream.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), port));
  http::request<http::string_body> request(method, target, 11);
  if (host) request.set(http::field::host, *host);
  if (origin) request.set(http::field::origin, *origin);
  if (method == http::verb::post) {
    request.set(http::field::content_type, type);
    request.body() = std::move(body);
    request.prepare_payload();
  }
  http::write(stream, request);
  boost::beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(stream, buffer, response);
  return {response.result_int(), response.body(), std::string(response[http::field::content_type]),
          std::string(response["Content-Security-Policy"])};
}

}  // namespace Pellux
