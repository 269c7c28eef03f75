#pragma once

#include <boost/format.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "base/context.h"
#include "base/log_sink.h"
#include "server/network_request.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

// Everything the session engine needs from the outside world: pages and errors for the UI of a
// context, the activity log, the settings store, the HTTP transport, the relaunch and the
// identity of this installation. The engine calls every operation with its lock held, from any
// of its threads, so implementations must be thread-safe and must not call back into the engine
// synchronously (SendRequest only queues).
class UserInterface : public LogSink {
 public:
  // Settings slots read and write `settings`, which must outlive this object.
  explicit UserInterface(SettingsStore& settings) : settings_(settings) {}
  ~UserInterface() override;

  // Shows the error page for one message key; the base version wraps it into a list.
  virtual void ShowError(int templateNumber, const std::string& messageKey, Context context);
  virtual bool ShowErrorList(int templateNumber, const std::vector<std::string>& messageKeys,
                             Context context) = 0;
  // Sends a page to the UI of `context`; width and height are -1 when the server gave none.
  virtual bool DisplayHtml(const std::string& html, Context context, int width, int height) = 0;
  // Queues the request and returns at once; the answer never arrives inside this call.
  virtual void SendRequest(NetworkRequest request, Context context) = 0;
  // Renders a prepared format and logs it; the base version calls Log.
  virtual void LogFormatted(const boost::format& format, int level, Context context);
  // Levels (base/log_level.h) filter nothing; a LogLevel::kStatus line also reaches the UI of
  // `context`.
  void Log(const std::string& text, int level, Context context) override = 0;
  // Settings: the default comes back when the value is missing or of the other type. A
  // stored number is a 32-bit pattern, so 0xFFFFFFFF reads as -1.
  virtual std::int32_t ReadIntSetting(const std::string& section, const std::string& name,
                                      std::int32_t defaultValue);
  virtual std::string ReadStringSetting(const std::string& section, const std::string& name,
                                        const std::string& defaultValue);
  virtual bool WriteIntSetting(const std::string& section, const std::string& name,
                               std::uint32_t value);
  virtual bool WriteStringSetting(const std::string& section, const std::string& name,
                                  const std::string& value);
  // Whether the value is there but does not read as `kind` (SettingsStore::HoldsUnusable): a
  // default is then not written over it.
  [[nodiscard]] bool SettingUnusable(const std::string& section, const std::string& name,
                                     SettingsStore::Kind kind) {
    return settings_.HoldsUnusable(section, name, kind);
  }
  // Restarts the service and power-cycles the base station; the base version does nothing.
  virtual bool Relaunch(std::uint16_t vendorId, std::uint16_t productId);
  virtual std::string GetOsDescription() = 0;
  virtual std::string GetClientId() = 0;
  virtual std::string GetLocale(Context context) = 0;

 protected:
  SettingsStore& settings_;
};

}  // namespace Pellux
