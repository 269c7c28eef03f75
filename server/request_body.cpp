#include "server/request_body.h"

#include "server/base64.h"
#include "server/form_escape.h"

namespace Pellux {

void RequestBody::AddField(std::string_view name, std::string_view value) {
  AppendFormEscaped(bytes_, name);
  bytes_.push_back('=');
  AppendFormEscaped(bytes_, value);
  bytes_.push_back('&');
}

void RequestBody::AddText(std::string_view text) {
  if (text.empty()) return;
  bytes_.append(text);
  bytes_.push_back('&');
}

void RequestBody::AddOperationResult(std::span<const std::uint8_t> answer, std::string_view status,
                                     std::span<const std::uint8_t> leading) {
  std::vector<std::uint8_t> response;
  response.reserve(leading.size() + answer.size());
  response.insert(response.end(), leading.begin(), leading.end());
  response.insert(response.end(), answer.begin(), answer.end());
  const std::string index = std::to_string(operationCounter_);
  AddField("opResponse[" + index + "]", Base64Encode(response));
  AddField("opStatus[" + index + "]", status);
  ++operationCounter_;
}

std::string RequestBody::Finish() const {
  if (bytes_.empty()) return {};
  return bytes_.substr(0, bytes_.size() - 1);
}

void RequestBody::Reset() {
  bytes_.clear();
  operationCounter_ = 0;
}

void RequestBody::Release() {
  std::string().swap(bytes_);
  operationCounter_ = 0;
}

std::string WarningsReportBody(const std::vector<std::string>& warnings) {
  std::string body;
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    if (i > 0) body.push_back('&');
    body += "xml_parse_warning[" + std::to_string(i) + "]=";
    AppendFormEscaped(body, warnings[i]);
  }
  return body;
}

std::string ErrorReportBody(std::string_view errorText) {
  std::string body = "xml_parse_error=";
  AppendFormEscaped(body, errorText);
  return body;
}

}  // namespace Pellux
