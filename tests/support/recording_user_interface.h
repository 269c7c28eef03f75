#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/memory_settings_store.h"
#include "ui/user_interface.h"

namespace Pellux {

// A user interface that remembers everything the engine asked of it. Settings go to an
// in-memory store that tests can fill and inspect. Thread-safe.
class RecordingUserInterface final : public UserInterface {
 public:
  RecordingUserInterface() : UserInterface(store) {}

  struct LogEntry {
    std::string text;
    int level;
    Context context;
  };
  struct ErrorEntry {
    int templateNumber;
    std::vector<std::string> keys;
    Context context;
  };
  struct PageEntry {
    std::string html;
    Context context;
    int width;
    int height;
  };
  struct RequestEntry {
    NetworkRequest request;
    Context context;
  };
  struct RelaunchEntry {
    std::uint16_t vendorId;
    std::uint16_t productId;
  };

  bool ShowErrorList(int templateNumber, const std::vector<std::string>& messageKeys,
                     Context context) override;
  bool DisplayHtml(const std::string& html, Context context, int width, int height) override;
  void SendRequest(NetworkRequest request, Context context) override;
  void Log(const std::string& text, int level, Context context) override;
  bool WriteIntSetting(const std::string& section, const std::string& name,
                       std::uint32_t value) override;
  bool WriteStringSetting(const std::string& section, const std::string& name,
                          const std::string& value) override;
  bool Relaunch(std::uint16_t vendorId, std::uint16_t productId) override;
  std::string GetOsDescription() override { return "TestOS 1.0"; }
  std::string GetClientId() override { return "client-0001"; }
  std::string GetLocale(Context /*context*/) override { return "en_US"; }

  // Copies, taken under the lock.
  [[nodiscard]] std::vector<LogEntry> Logs() const;
  [[nodiscard]] std::vector<std::string> LogTexts() const;
  [[nodiscard]] std::vector<ErrorEntry> Errors() const;
  [[nodiscard]] std::vector<PageEntry> Pages() const;
  [[nodiscard]] std::vector<RequestEntry> Requests() const;
  [[nodiscard]] std::vector<RelaunchEntry> Relaunches() const;
  // Settings written through the engine, in order, as "name=value".
  [[nodiscard]] std::vector<std::string> SettingWrites() const;

  [[nodiscard]] std::size_t CountLog(const std::string& text) const;
  [[nodiscard]] bool HasLog(const std::string& text) const { return CountLog(text) > 0; }
  // Index of the first line equal to `text` at or after `from`, or -1.
  [[nodiscard]] int FindLog(const std::string& text, int from = 0) const;
  void Clear();

  MemorySettingsStore store;
  // When set, every request also goes on to it (a real transport), after it is recorded. Set it
  // before the engine may send anything.
  std::function<void(NetworkRequest, Context)> forward;
  // When set, runs on the logging thread after each line is recorded: a test's way to act at
  // a given moment inside the engine. Set it before the engine may log.
  std::function<void(const std::string& line)> onLog;

 private:
  mutable std::mutex mutex_;
  std::vector<LogEntry> logs_;
  std::vector<ErrorEntry> errors_;
  std::vector<PageEntry> pages_;
  std::vector<RequestEntry> requests_;
  std::vector<RelaunchEntry> relaunches_;
  std::vector<std::string> settingWrites_;
};

}  // namespace Pellux
