#include <unistd.h>

#include <filesystem>

#include "tests/support/ui_channel_platform.h"
#include "ui/linux_user_interface.h"

namespace Pellux {

UiChannelPlatform::UiChannelPlatform(const std::string& tag) : tag_(tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("pellux-" + tag + "-XXXXXX"));
  folder_ = mkdtemp(pattern.data());
  service_ = folder_ + "/service.sock";
}

UiChannelPlatform::~UiChannelPlatform() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

UiSender UiChannelPlatform::ThisProcess() {
  return UiSender::FromUnixCredentials(geteuid(), getegid(), static_cast<std::uint32_t>(getpid()));
}

std::string UiChannelPlatform::ReplyName(const std::string& tag) const {
  return "@pellux-" + tag_ + "-" + tag + "-" + std::to_string(getpid());
}

std::string UiChannelPlatform::UnusedAddress() const {
  return folder_ + "/none.sock";
}

std::unique_ptr<ServiceUserInterface> UiChannelPlatform::MakeInterface(
    SettingsStore& settings, NetworkWorkerPool& pool, NetworkWorkerPool::Completion answers,
    const Clock& clock) {
  auto made = std::make_unique<LinuxUserInterface>(settings, pool, std::move(answers), clock,
                                                   PELLUX_SOURCE_DIR);
  made_ = made.get();
  return made;
}

std::unique_ptr<PipeServer> UiChannelPlatform::MakeListener() {
  return static_cast<LinuxUserInterface*>(made_)->MakeListener(service_);
}

}  // namespace Pellux
