#include "demo/demo_user_interface.h"

#include <boost/format.hpp>

#include "base/log_level.h"
#include "session/communication_manager.h"
#include "ui/client_id.h"
#include "ui/os_description.h"

namespace Pellux {
namespace {

constexpr const char* kSessionStart = "Starting session in standard mode...";

}  // namespace

DemoUserInterface::DemoUserInterface(SettingsStore& store, NetworkWorkerPool& pool,
                                     std::ostream& out)
    : UserInterface(store), pool_(pool), out_(out) {}

bool DemoUserInterface::ShowErrorList(int templateNumber,
                                      const std::vector<std::string>& messageKeys,
                                      Context /*context*/) {
  std::string keys;
  for (const std::string& key : messageKeys) keys += (keys.empty() ? "" : ", ") + key;
  Print((boost::format("[error page %d] %s") % templateNumber % keys).str());
  return true;
}

bool DemoUserInterface::DisplayHtml(const std::string& html, Context /*context*/, int /*width*/,
                                    int /*height*/) {
  Print("[page] " + html);
  return true;
}

void DemoUserInterface::SendRequest(NetworkRequest request, Context context) {
  {
    std::lock_guard guard(mutex_);
    ++counts_.requests;
    ++requestsThisSession_;
    counts_.bytesSent += request.body.size();
  }
  changed_.notify_all();
  pool_.Submit(std::move(request), context,
               [this](bool failed, const std::string& body, std::uint32_t number, Context ctx) {
                 OnAnswer(failed, body, number, ctx);
               });
}

void DemoUserInterface::OnAnswer(bool failed, const std::string& body, std::uint32_t requestNumber,
                                 Context context) {
  {
    std::lock_guard guard(mutex_);
    counts_.bytesReceived += body.size();
    if (failed) ++counts_.failedExchanges;
  }
  changed_.notify_all();
  if (CommunicationManager* engine = CommunicationManager::Instance()) {
    engine->ProcessAction(requestNumber, "http", body, failed, context);
  }
}

void DemoUserInterface::Log(const std::string& text, int level, Context /*context*/) {
  Print((boost::format("%d %s") % level % text).str());
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
  Print((boost::format("[relaunch] base station 0x%04x:0x%04x") % vendorId % productId).str());
  return true;
}

std::string DemoUserInterface::GetOsDescription() {
  return Pellux::GetOsDescription([this](const std::string& line) { LogProblem(line); });
}

std::string DemoUserInterface::GetClientId() {
  return Pellux::GetClientId(settings_, [this](const std::string& line) { LogProblem(line); });
}

void DemoUserInterface::LogProblem(const std::string& line) {
  Log(line, LogLevel::kError, kNoContext);
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

void DemoUserInterface::Print(const std::string& line) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_);
  std::lock_guard guard(mutex_);
  out_ << boost::format("%8.3f  %s\n") % (static_cast<double>(elapsed.count()) / 1000.0) % line;
  out_.flush();
}

}  // namespace Pellux
