// Carrying out one server instruction: its remote operations run one after the other, their
// outcomes are recorded in the request body, and the results are posted once nothing holds
// them back (a dialog's minimum display time, a form) - or the session closes instead.

#include <algorithm>
#include <utility>
#include <vector>

#include "base/log_text.h"
#include "link/packet.h"
#include "link/packet_bytes.h"
#include "link/radio_link.h"
#include "session/communication_manager.h"
#include "session/password_masking.h"

namespace Pellux {

void CommunicationManager::SendNextCommand() {
  Lock guard(lock);
  // An operation that fails at once (no channel, nothing to send) records its outcome and asks
  // for the next one from inside this call. Taking those requests in a loop here keeps the stack
  // flat however many operations a server document lists.
  if (sendingCommands) {
    sendNextAgain = true;
    return;
  }
  sendingCommands = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{sendingCommands};
  do {
    sendNextAgain = false;
    SendNextCommandOnce();
  } while (sendNextAgain);
}

void CommunicationManager::SendNextCommandOnce() {
  if (current.remoteOps.empty()) {
    PostResults();
    return;
  }
  if (radio->IsWaitingForPong()) {
    // The PONG's handling sends the command.
    LogLine(LogLevel::kTrace, kNoContext, "Attempted to send command while waiting for PONG...");
    return;
  }
  SendCommand();
}

void CommunicationManager::SendCommand() {
  Lock guard(lock);
  if (!radio->IsChannelOpen()) {
    OnCommandResult("not_connected", true, false);
    return;
  }
  if (current.remoteOps.empty()) return;

  const std::shared_ptr<Command> command = current.remoteOps.front();
  if (command->packet == nullptr) {
    // An operation without an operation code has nothing to send; the tracker must not be
    // handed a made-up command, so the operation fails here.
    LogLine(LogLevel::kError, kNoContext, "Remote operation without an operation code: not sent");
    OnCommandResult("fail", false, false);
    return;
  }
  radio->SetRetryBudget(command->retries);
  std::vector<std::uint8_t> header;
  command->packet->Serialize(header);
  progress.OperationStarted(current.remoteOps.size());
  progress.SentToTracker(header.size());
  LogLine(LogLevel::kDetail, kNoContext, "Sending command: %s", HexBytes(header));
  if (!command->payload.empty()) {
    LogLine(LogLevel::kDetail, kNoContext, "Payload size: %d bytes", command->payload.size());
  }
  radio->QueuePacket(*command->packet, "Failed to send command");
}

void CommunicationManager::AbandonRemainingOperations() {
  while (!current.remoteOps.empty()) {
    const std::shared_ptr<Command> command = current.remoteOps.front();
    current.remoteOps.pop_front();
    requestBody.AddOperationResult(command->response, "disconnect");
  }
}

void CommunicationManager::OnCommandResult(const std::string& status, bool error, bool disconnect,
                                           std::span<const std::uint8_t> data) {
  Lock guard(lock);
  if (!active) return;

  if (current.remoteOps.empty()) {
    // A failure outside any operation, such as a time-out before the first command.
    if (error) requestBody.AddField("error", status);
  } else {
    const std::shared_ptr<Command> command = current.remoteOps.front();
    current.remoteOps.pop_front();
    progress.OperationFinished();
    progress.ReceivedFromTracker(data.size());
    requestBody.AddOperationResult(command->response, error ? "disconnect_" + status : status,
                                   data);
    if (disconnect || ((status == "fail" || error) && current.errorHandler == "executetillerror")) {
      AbandonRemainingOperations();
    }
  }

  if (status == "fail") {
    LogLine(LogLevel::kError, kNoContext, "Command returned a FAIL status");
    commandFailed = true;
  }
  if (disconnect) {
    LogLine(LogLevel::kError, kNoContext, "Disconnecting: %s", status);
    disconnected = true;
  } else if (error) {
    LogLine(LogLevel::kError, kNoContext, "Error reported: %s", status);
  }
  SendNextCommand();
}

void CommunicationManager::PostResults() {
  Lock guard(lock);
  if (waitingMinDisplay) {
    postDeferred = true;
    LogLine(LogLevel::kProgress, kNoContext, "Waiting for minimum display time to elapse [%dms]...",
            current.minDisplayTime);
    return;
  }

  if (current.host.empty()) {
    if (current.action != "close") {
      LogLine(LogLevel::kIgnored, kNoContext,
              "Closing: received non-close action [%s] with no response host", current.action);
    }
    closeRequested = true;
  } else if (current.responder == "respondnodisconnect" && disconnected) {
    LogLine(LogLevel::kProgress, kNoContext,
            "Closing: disconnected with responder 'respondNoDisconnect'");
    closeRequested = true;
  } else if (current.responder == "respondnoerror" && (disconnected || commandFailed)) {
    LogLine(LogLevel::kProgress, kNoContext,
            "Closing: disconnected or command failed with responder 'respondNoError'");
    closeRequested = true;
  } else {
    if (current.containsForm) {
      LogLine(LogLevel::kLifecycle, kNoContext, "Waiting for form input...");
      return;
    }
    if (!pendingRequest) {
      if (!sessionBeaconType.empty()) requestBody.AddField("beaconType", sessionBeaconType);
      requestBody.AddField("p_lcl", ui->GetLocale(context));
      requestBody.AddField("clientMode", mode);
      requestBody.AddField("clientId", settings.clientId);
      requestBody.AddField("clientVersion", settings.clientVersion);
      requestBody.AddField("os", settings.osName);
      requestBody.AddText(current.responseText);

      NetworkRequest request;
      request.method = current.method;
      request.protocol = current.protocol;
      request.host = current.host;
      request.port = current.port;
      request.path = current.path;
      request.secure = current.secure;
      request.body = requestBody.Finish();
      request.requestNumber = ++requestCounter;
      currentRequestId = request.requestNumber;
      pendingRequest = [this, request = std::move(request), requestContext = context] {
        DispatchRequest(request, requestContext);
      };
      requestBody.Reset();
    }
  }

  if (closeRequested && !current.host.empty()) ReportFailure("kPXDaemonDisconnected", context);
  if (radio->GetLinkState() == LinkState::Linked && current.action == "close" && !disconnected) {
    // The request waits in pendingRequest until the channel has closed behind the sleeping
    // tracker.
    LogLine(LogLevel::kProgress, kNoContext, "Closing: received explicit 'close' action");
    SleepTracker();
    return;
  }
  if (closeRequested) {
    EndSession();
    return;
  }
  if (disconnected) {
    LogLine(LogLevel::kError, kNoContext, "Closing: disconnected from tracker unexpectedly");
    radio->CloseChannel();
    return;
  }
  SendPendingRequest();
}

void CommunicationManager::OnFormInput(const std::string& text) {
  Lock guard(lock);
  // Form input answers the form of the current instruction, once. Anything else (no session,
  // no form asked for, a second submission) would let any local client make the service post.
  if (!active || !current.containsForm) {
    LogLine(LogLevel::kIgnored, kNoContext, "Ignoring form input: no form is awaited.");
    return;
  }
  LogLine(LogLevel::kUserInput, kNoContext, "Received form input: %s",
          LogSafeText(MaskPasswords(text)));
  requestBody.AddText(text);
  current.containsForm = false;
  if (current.remoteOps.empty()) {
    // A submitted form never waits for the rest of the minimum display time.
    waitingMinDisplay = false;
    postDeferred = false;
    minDisplayTimer->Cancel();
    PostResults();
  }
}

void CommunicationManager::DispatchRequest(const NetworkRequest& request, Context requestContext) {
  LogLine(LogLevel::kDetail, kNoContext, "Connecting [%lu]: %s%s to %s://%s:%s%s with data: %s",
          static_cast<unsigned long>(request.requestNumber), request.secure ? "secure " : "",
          request.method, request.protocol, request.host, std::to_string(request.port),
          request.path, MaskPasswords(request.body));
  progress.RequestPosted();
  ui->SendRequest(request, requestContext);
}

void CommunicationManager::SendPendingRequest() {
  Lock guard(lock);
  if (!pendingRequest) return;
  // Emptied before the call, so that whatever the send leads to starts from a clean slate.
  auto send = std::move(pendingRequest);
  pendingRequest = nullptr;
  send();
}

void CommunicationManager::SleepTracker() {
  Lock guard(lock);
  lastSleepTime = EpochSeconds(clock.Now());
  radio->SetLinkState(LinkState::Unlinking);
  LogLine(LogLevel::kLifecycle, kNoContext, "Commanding tracker to sleep for %d seconds...",
          current.sleepPeriod);
  radio->QueuePacket(UnlinkPacket(current.sleepPeriod),
                     "UNLINK request packet failed to be transmitted");
}

void CommunicationManager::AddRequestField(const std::string& name, const std::string& value) {
  Lock guard(lock);
  requestBody.AddField(name, value);
}

std::shared_ptr<Command> CommunicationManager::RunningCommand() const {
  Lock guard(lock);
  return current.remoteOps.empty() ? nullptr : current.remoteOps.front();
}

void CommunicationManager::OnLinked() {
  Lock guard(lock);
  progress.Linked(NowSeconds());
  if (current.origin == "server" && current.action == "acquire") {
    AddRequestField("acquired", "true");
  }
  SendNextCommand();
}

bool CommunicationManager::AppendCommandResponse(std::span<const std::uint8_t> bytes) {
  const std::shared_ptr<Command> command = RunningCommand();
  if (command == nullptr) return false;
  progress.ReceivedFromTracker(bytes.size());
  command->response.insert(command->response.end(), bytes.begin(), bytes.end());
  return true;
}

bool CommunicationManager::TakeCommandPayload(std::size_t most, std::vector<std::uint8_t>& chunk) {
  const std::shared_ptr<Command> command = RunningCommand();
  if (command == nullptr) return false;
  const std::size_t size = std::min(most, command->payload.size());
  const auto end = command->payload.begin() + static_cast<std::ptrdiff_t>(size);
  chunk.assign(command->payload.begin(), end);
  progress.SentToTracker(size);
  command->payload.erase(command->payload.begin(), end);
  return true;
}

}  // namespace Pellux
