#include "tools/pelluxctl/doctor/server_check.h"

#include "server/proxy_bypass.h"
#include "server/proxy_lists.h"

namespace Pellux {
namespace {

constexpr std::int32_t kHttpPort = 80;
constexpr std::int32_t kMaxPort = 65535;
constexpr long kFirstServerError = 500;
constexpr long kProxyAuthentication = 407;
constexpr const char* kSettings =
    "ServerHost and ServerPort in the settings (pellux-settings(5)) and the proxy (pelluxctl "
    "proxy --help)";

}  // namespace

std::string ProxyForServer(const ProxySettings& proxy, const std::string& host, std::int32_t port) {
  if (proxy.selection == ProxySettings::kOverride) return proxy.serverOverride;
  if (proxy.selection != ProxySettings::kPerConnection) return {};
  if ((proxy.flags & ProxySettings::kManualProxy) == 0) return {};
  if (BypassesProxy(proxy.bypass, host, port)) return {};
  return ProxyForScheme(proxy.server, "http");
}

DoctorCheck CheckServer(const DoctorSettings& settings, ServerProbe& probe,
                        std::chrono::milliseconds timeout) {
  constexpr const char* kName = "upload server";
  if (settings.serverPort < 0 || settings.serverPort > kMaxPort) {
    return DoctorCheck::Fail(
        kName, "ServerPort " + std::to_string(settings.serverPort) + " is no TCP port",
        std::string("correct ") + kSettings);
  }
  ServerTarget target;
  target.host = settings.serverHost;
  target.port = settings.serverPort == 0 ? kHttpPort : settings.serverPort;
  target.path = settings.errorPath;
  target.proxy = ProxyForServer(settings.proxy, target.host, target.port);
  const std::string where =
      target.host + ":" + std::to_string(target.port) +
      (target.proxy.empty() ? " (direct)" : " through the proxy " + target.proxy);
  const ServerAnswer answer = probe.Probe(target, timeout);
  const std::string detail = answer.detail.empty() ? "" : " (" + answer.detail + ")";
  switch (answer.outcome) {
    case ServerAnswer::Outcome::kAnswered:
      if (answer.status == kProxyAuthentication) {
        return DoctorCheck::Fail(kName, "the proxy " + target.proxy + " asks for a password",
                                 "use a proxy that lets the uploader through without one "
                                 "(pelluxctl proxy --help)");
      }
      if (answer.status >= kFirstServerError) {
        return DoctorCheck::Warn(kName, where + " answered HTTP " + std::to_string(answer.status),
                                 "try again later; if it stays so, tell Pellux's support");
      }
      return DoctorCheck::Ok(kName, where + " answered HTTP " + std::to_string(answer.status));
    case ServerAnswer::Outcome::kUnresolved:
      return DoctorCheck::Fail(
          kName, target.host + " does not resolve" + detail,
          "check the name server (getent hosts " + target.host + "), " + kSettings);
    case ServerAnswer::Outcome::kProxyUnresolved:
      return DoctorCheck::Fail(kName, "the proxy " + target.proxy + " does not resolve" + detail,
                               "correct the proxy: pelluxctl proxy --help");
    case ServerAnswer::Outcome::kRefused:
      return DoctorCheck::Fail(kName, where + " refused the connection" + detail,
                               "check the firewall, " + std::string(kSettings));
    case ServerAnswer::Outcome::kTimedOut:
      return DoctorCheck::Fail(
          kName,
          where + " did not answer within " + std::to_string(timeout.count()) + " ms" + detail,
          "check the firewall, " + std::string(kSettings));
    case ServerAnswer::Outcome::kFailed:
      break;
  }
  return DoctorCheck::Fail(kName, "the request to " + where + " failed" + detail,
                           std::string("check ") + kSettings);
}

}  // namespace Pellux
