#include "tests/support/scripted_exchange.h"

#include <algorithm>

#include "session/communication_manager.h"

namespace Pellux {

void ScriptedExchange::BeginInstruction() {
  Record("BeginInstruction");
  body_.clear();
}

void ScriptedExchange::SendNextCommand() {
  Record("SendNextCommand");
  if (postWhenIdle) PostResults();
}

void ScriptedExchange::PostResults() {
  Record("PostResults");
  if (manager_->IsWaitingMinDisplay()) {
    manager_->SetMinDisplayWait(true, true);
    return;
  }
  const ServerResponse current = manager_->Current();
  if (current.host.empty()) {
    manager_->SetCloseRequested();
    manager_->EndSession();
    return;
  }
  NetworkRequest request;
  request.method = current.method;
  request.protocol = current.protocol;
  request.host = current.host;
  request.port = current.port;
  request.path = current.path;
  request.secure = current.secure;
  request.body = body_ + "clientMode=" + manager_->Mode();
  body_.clear();
  manager_->PrepareResultsRequest(request);
  if (sendPrepared) manager_->SendPendingRequest();
}

void ScriptedExchange::OnFormInput(const std::string& text) {
  Record("OnFormInput " + text);
  if (!text.empty()) body_ += text + "&";
  manager_->SetMinDisplayWait(false, false);
  manager_->CancelMinDisplayTimer();
  PostResults();
}

std::vector<std::string> ScriptedExchange::Calls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return calls_;
}

std::size_t ScriptedExchange::Count(const std::string& call) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), call));
}

void ScriptedExchange::Record(std::string call) {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.push_back(std::move(call));
}

}  // namespace Pellux
