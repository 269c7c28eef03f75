#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Pellux {

// The form-encoded body of the session's next request, grown in place as events happen during
// an exchange. Every pair or text added ends with one "&"; Finish leaves the last one out.
class RequestBody {
 public:
  // Appends FormEscape(name) "=" FormEscape(value) "&".
  void AddField(std::string_view name, std::string_view value);
  // Appends text that is already form-encoded (the server's responseText, the UI's form) exactly
  // as it stands, then "&"; an empty text adds nothing.
  void AddText(std::string_view text);
  // Adds "opResponse[n]" with the base64 of `leading` followed by `answer`, and "opStatus[n]"
  // with `status`, where n is the operation counter, which then grows by one.
  void AddOperationResult(std::span<const std::uint8_t> answer, std::string_view status,
                          std::span<const std::uint8_t> leading = {});

  // The body without its final "&"; the body itself stays as it is.
  [[nodiscard]] std::string Finish() const;
  // Empties the body and restarts the operation counter; the storage is kept for reuse.
  void Reset();
  // As Reset, and gives the storage back.
  void Release();

  [[nodiscard]] bool Empty() const { return bytes_.empty(); }
  [[nodiscard]] std::int32_t OperationCounter() const { return operationCounter_; }
  [[nodiscard]] const std::string& Text() const { return bytes_; }

 private:
  std::string bytes_;
  std::int32_t operationCounter_ = 0;
};

// The body that tells the error endpoint which values of a response could not be used:
// "xml_parse_warning[i]=<escaped warning>" joined by "&", names with literal brackets.
std::string WarningsReportBody(const std::vector<std::string>& warnings);

// The body that tells the error endpoint a response could not be read at all.
std::string ErrorReportBody(std::string_view errorText);

}  // namespace Pellux
