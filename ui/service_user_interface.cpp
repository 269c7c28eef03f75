#include "ui/service_user_interface.h"

#include <boost/format.hpp>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "server/proxy_description.h"
#include "ui/channel/ui_message.h"
#include "ui/support_address.h"
#include "ui/system/client_id.h"
#include "ui/system/os_description.h"

namespace Pellux {

ServiceUserInterface::ServiceUserInterface(Parts parts)
    : UserInterface(parts.settings),
      pool_(parts.pool),
      replies_(parts.replies),
      authority_(parts.authority),
      strings_(parts.strings),
      debug_(parts.debug),
      clock_(parts.clock),
      version_(parts.versionText),
      startedAt_(EpochSeconds(parts.clock.Now())),
      answers_(std::move(parts.answers)),
      templates_{{0, std::move(parts.errorTemplate)}},
      log_(parts.settings, parts.logFolder, parts.debug, parts.clock, std::move(parts.versionText),
           [this](const std::string& text, int level) { Log(text, level, kNoContext); }) {
  locale_ = ReadStringSetting(kSection, "Language", kDefaultLocale);
  ProcessProxySettings::Set(ReadProxySettings(*this));
  if (!parts.templateProblem.empty()) {
    Log(FormatLine("UI: No error page template (%s): error pages will be empty",
                   parts.templateProblem)
            .str(),
        LogLevel::kError, kNoContext);
  }
}

ServiceUserInterface::~ServiceUserInterface() {
  log_.CloseWithMarker(ActivityLog::kTerminatedMarker);
  pool_.Stop();
}

ProxySettings ServiceUserInterface::ReadProxySettings(UserInterface& ui) {
  ProxySettings proxy;
  proxy.selection = ui.ReadIntSetting(kSection, "ProxySelection", -1);
  proxy.autoConfigUrl = ui.ReadStringSetting(kSection, "ProxyAutoConfigURL", "");
  proxy.autoDiscoveryFlags =
      static_cast<std::uint32_t>(ui.ReadIntSetting(kSection, "ProxyAutoDiscoveryFlags", -1));
  proxy.flags = static_cast<std::uint32_t>(ui.ReadIntSetting(kSection, "ProxyFlags", -1));
  proxy.bypass = ui.ReadStringSetting(kSection, "ProxyBypass", "");
  proxy.server = ui.ReadStringSetting(kSection, "ProxyServer", "");
  proxy.serverOverride = ui.ReadStringSetting(kSection, "ProxyServerOverride", "");
  return proxy;
}

std::string ServiceUserInterface::InternalErrorText() {
  return std::string("There was an internal error.  Please contact ") + SupportAddress() + ".";
}

std::string ServiceUserInterface::BuildErrorPage(const std::string& pageTemplate,
                                                 const std::vector<std::string>& texts) {
  // Nothing to bind the texts to: the page stays empty, as a missing template file leaves it.
  if (pageTemplate.empty()) return {};
  try {
    boost::format page(pageTemplate);
    for (const std::string& text : texts) page % text;
    return page.str();
  } catch (const boost::io::format_error&) {
    return InternalErrorText();
  }
}

bool ServiceUserInterface::ShowErrorList(int templateNumber,
                                         const std::vector<std::string>& messageKeys,
                                         Context context) {
  const auto found = templates_.find(templateNumber);
  const std::string& pageTemplate = found != templates_.end() ? found->second : std::string();
  std::vector<std::string> texts;
  texts.reserve(messageKeys.size());
  for (const std::string& key : messageKeys) {
    texts.push_back(strings_.Text(MessageStrings::IdForKey(key)));
  }
  return DisplayHtml(BuildErrorPage(pageTemplate, texts), context, -1, -1);
}

bool ServiceUserInterface::DisplayHtml(const std::string& html, Context context, int width,
                                       int height) {
  Log(FormatLine("Sending %d bytes of HTML to UI...", html.size()).str(), LogLevel::kProgress,
      context);
  return replies_.Send(EncodeHtml({width, height, html}), context);
}

void ServiceUserInterface::SendRequest(NetworkRequest request, Context context) {
  if (!request.reportResult || !answers_) {
    pool_.Submit(std::move(request), context, NetworkWorkerPool::Completion());
    return;
  }
  // The answer comes back with the context, which must still name its endpoint then.
  endpoints_.Hold(context);
  pool_.Submit(
      std::move(request), context,
      [this](bool failed, const std::string& body, std::uint32_t requestNumber, Context answered) {
        answers_(failed, body, requestNumber, answered);
        endpoints_.Release(answered);
      });
}

bool ServiceUserInterface::IsAdministrator(const UiSender& sender) {
  return authority_.IsAdministrator(sender);
}

void ServiceUserInterface::Log(const std::string& text, int level, Context context) {
  if (level == LogLevel::kStatus) replies_.Send(EncodeInfo(text), context);
  log_.WriteLine(text);
  debug_.Write(text, level, context);
}

bool ServiceUserInterface::WriteIntSetting(const std::string& section, const std::string& name,
                                           std::uint32_t value) {
  return UserInterface::WriteIntSetting(section, name, value);
}

bool ServiceUserInterface::WriteStringSetting(const std::string& section, const std::string& name,
                                              const std::string& value) {
  return UserInterface::WriteStringSetting(section, name, value);
}

std::string ServiceUserInterface::GetOsDescription() {
  return Pellux::GetOsDescription([this](const std::string& line) { LogProblem(line); });
}

std::string ServiceUserInterface::GetClientId() {
  return Pellux::GetClientId(settings_, [this](const std::string& line) { LogProblem(line); });
}

std::string ServiceUserInterface::GetLocale(Context /*context*/) {
  return locale_;
}

void ServiceUserInterface::ApplyLogging(std::int32_t enabled, std::int32_t days) {
  log_.ApplySettings(enabled, days);
}

void ServiceUserInterface::ReplaceProxySettings(const ProxySettings& settings) {
  ProcessProxySettings::Set(settings);
}

bool ServiceUserInterface::SendStatusReply(const std::string& text, Context context) {
  return replies_.Send(std::string(1, UiCode::kStatus) + text, context);
}

void ServiceUserInterface::FillStatus(StatusRecord& record) {
  record.version = version_;
  record.now = EpochSeconds(clock_.Now());
  record.startedAt = startedAt_;
  record.logFile = log_.CurrentPath();
  record.proxy = DescribeProxy(ProcessProxySettings::Get());
}

bool ServiceUserInterface::SendStatusRecord(const std::string& record, Context context) {
  return replies_.Send(std::string(1, UiCode::kStatusRecord) + record, context);
}

void ServiceUserInterface::LogProblem(const std::string& line) {
  Log(line, LogLevel::kError, kNoContext);
}

}  // namespace Pellux
