#include "ui/system/client_id.h"

#include <mutex>
#include <utility>

namespace Pellux {
namespace {

constexpr const char* kSection = "Tracker";
constexpr const char* kName = "ClientId";

}  // namespace

std::string GetClientId(SettingsStore& settings, const ProblemReporter& report) {
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  if (std::optional<std::string> stored = settings.ReadText(kSection, kName);
      stored && !stored->empty()) {
    return std::move(*stored);
  }
  std::optional<std::string> made = MakeClientId(report);
  if (!made) return {};
  if (!settings.WriteText(kSection, kName, *made) && report) {
    report("the new client id " + *made + " could not be stored; the next call makes another");
  }
  return std::move(*made);
}

}  // namespace Pellux
