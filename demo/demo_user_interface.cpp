#include "demo/demo_user_interface.h"

#include <boost/format.hpp>

#include "app/engine_session_control.h"
#include "base/clock.h"
#include "base/log_level.h"
#include "demo/demo_console.h"
#include "ui/log/directory_log_folder_linux.h"

namespace Pellux {
namespace {

constexpr const char* kSessionStart = "Starting session in standard mode...";

}  // namespace

DemoUserInterface::DemoUserInterface(SettingsStore& settings, NetworkWorkerPool& pool,
                                     std::ostream& out, const std::string& logFolderPath)
    : LinuxUserInterface(
          settings, pool,
          [this](bool failed, const std::string& body, std::uint32_t number, Context context) {
            OnAnswer(failed, body, number, context);
          },
          SystemClock::Instance(), "", std::make_unique<DemoConsole>(out),
          std::make_unique<DirectoryLogFolder>(logFolderPath)) {}

void DemoUserInterface::SendRequest(NetworkRequest request, Context context) {
  {
    std::lock_guard guard(mutex_);
    ++counts_.requests;
    ++requestsThisSession_;
    counts_.bytesSent += request.body.size();
  }
  changed_.notify_all();
  LinuxUserInterface::SendRequest(std::move(request), context);
}

void DemoUserInterface::OnAnswer(bool failed, const std::string& body, std::uint32_t requestNumber,
                                 Context context) {
  {
    std::lock_guard guard(mutex_);
    counts_.bytesReceived += body.size();
    if (failed) ++counts_.failedExchanges;
  }
  changed_.notify_all();
  AnswersToEngine()(failed, body, requestNumber, context);
}

void DemoUserInterface::Log(const std::string& text, int level, Context context) {
  LinuxUserInterface::Log(text, level, context);
  if (text != kSessionStart) return;
  // A new background session after one that talked to the server: that one is done.
  {
    std::lock_guard guard(mutex_);
    if (requestsThisSession_ == 0) return;
    requestsThisSession_ = 0;
    ++counts_.sessionsDone;
  }
  changed_.notify_all();
}

bool DemoUserInterface::Relaunch(std::uint16_t vendorId, std::uint16_t productId) {
  Log((boost::format("[relaunch] base station 0x%04x:0x%04x") % vendorId % productId).str(),
      LogLevel::kError, kNoContext);
  return true;
}

DemoUserInterface::Counts DemoUserInterface::Snapshot() const {
  std::lock_guard guard(mutex_);
  return counts_;
}

bool DemoUserInterface::WaitFor(const std::function<bool(const Counts&)>& done,
                                std::chrono::milliseconds timeout) const {
  std::unique_lock guard(mutex_);
  return changed_.wait_for(guard, timeout, [&] { return done(counts_); });
}

}  // namespace Pellux
