#include <windows.h>

#include <atomic>
#include <filesystem>

#include "tests/support/ui_channel_platform.h"
#include "ui/channel/pipe_client_sender_win.h"
#include "ui/win_user_interface.h"

namespace Pellux {
namespace {

std::string PipeName(const std::string& tag) {
  return "\\\\.\\pipe\\pellux-" + tag + "-" + std::to_string(GetCurrentProcessId());
}

}  // namespace

UiChannelPlatform::UiChannelPlatform(const std::string& tag) : tag_(tag) {
  // Fixtures of one process follow one another: each gets its own folder and pipe.
  static std::atomic<int> made{0};
  const std::string unique = tag + "-" + std::to_string(made++);
  folder_ = (std::filesystem::temp_directory_path() /
             ("pellux-" + unique + "-" + std::to_string(GetCurrentProcessId())))
                .string();
  std::filesystem::create_directories(folder_);
  service_ = PipeName(unique + "-service");
}

UiChannelPlatform::~UiChannelPlatform() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

UiSender UiChannelPlatform::ThisProcess() {
  std::string error;
  auto sender = ProcessSender(GetCurrentProcessId(), error);
  return sender ? *sender : UiSender{};
}

std::string UiChannelPlatform::ReplyName(const std::string& tag) const {
  return PipeName(tag_ + "-" + tag);
}

std::string UiChannelPlatform::UnusedAddress() const {
  return PipeName(tag_ + "-none");
}

std::unique_ptr<ServiceUserInterface> UiChannelPlatform::MakeInterface(
    SettingsStore& settings, NetworkWorkerPool& pool, NetworkWorkerPool::Completion answers,
    const Clock& clock) {
  auto made = std::make_unique<WinUserInterface>(settings, pool, std::move(answers), clock,
                                                 std::string("Z:") + PELLUX_SOURCE_DIR);
  made_ = made.get();
  return made;
}

std::unique_ptr<PipeServer> UiChannelPlatform::MakeListener() {
  return static_cast<WinUserInterface*>(made_)->MakeListener(service_);
}

}  // namespace Pellux
