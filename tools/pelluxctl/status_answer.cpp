#include "tools/pelluxctl/status_answer.h"

namespace Pellux {

StatusAnswer AwaitStatusAnswer(UiConnection& connection, std::chrono::milliseconds timeout,
                               const std::function<void(const std::string&)>& onError) {
  using Clock = std::chrono::steady_clock;
  StatusAnswer answer;
  const auto until = Clock::now() + timeout;
  while (Clock::now() < until) {
    std::string error;
    const auto reply = connection.Receive(
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()), error);
    if (!reply) {
      if (!error.empty() && onError) onError(error);
      continue;
    }
    // A page or a status line of a session this endpoint had is not the answer.
    if (reply->empty() || reply->front() != UiCode::kStatus) continue;
    const auto status = DecodeStatusText(std::string_view(*reply).substr(1));
    if (!status) {
      answer.outcome = StatusAnswer::Outcome::kSenseless;
      answer.reply = *reply;
      return answer;
    }
    answer.outcome = StatusAnswer::Outcome::kAnswered;
    answer.status = *status;
    return answer;
  }
  return answer;
}

}  // namespace Pellux
