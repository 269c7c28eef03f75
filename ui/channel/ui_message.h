#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/proxy_settings.h"

namespace Pellux {

// The messages between the service and a user interface, both ways, in one place: the service's
// message handling and pelluxctl use these functions and nothing else, so the two ends cannot
// drift apart. A message is its one-letter code followed by its text. Pure functions, any thread.
//
// From a UI to the service: code, reply name, rest, read as a stream: the code is the first
// character that is not white space, the reply name the next run of characters up to white
// space, and the rest everything after the one white space character that ends the name.
// From the service to a UI: the code followed directly by the text (H, I, T, J).
namespace UiCode {
// UI to service.
inline constexpr char kStatusPoll = 'T';
// Asks for the status record (status_record.h); answered with J and the record.
inline constexpr char kStatusRecordRequest = 'J';
inline constexpr char kFinish = 'E';
inline constexpr char kForm = 'F';
inline constexpr char kLogging = 'L';
inline constexpr char kProxy = 'P';
inline constexpr char kRefresh = 'R';
inline constexpr char kSession = 'S';
inline constexpr char kOpenUrl = 'U';
inline constexpr char kExit = 'X';
// Service to UI.
inline constexpr char kHtml = 'H';
inline constexpr char kInfo = 'I';
inline constexpr char kStatus = 'T';
inline constexpr char kStatusRecord = 'J';
}  // namespace UiCode

// No message from a UI is longer than this; a longer one is refused whole.
inline constexpr std::size_t kMaxUiMessageBytes = std::size_t{64} * 1024;
// What a UI reads from the service: a page is the server's HTML and may be larger, but never
// larger than the transport lets an answer be.
inline constexpr std::size_t kMaxUiReplyBytes = std::size_t{16} * 1024 * 1024;

// "White space" as the C library's stream reading has it in the "C" locale.
bool IsUiSpace(char c);

// A message from a UI, split.
struct UiMessage {
  char code = 0;
  std::string replyName;
  std::string rest;

  bool operator==(const UiMessage&) const = default;
};

// Splits a message from a UI. Nullopt when it is longer than kMaxUiMessageBytes or holds only
// white space. A message without a reply name comes back with an empty name.
std::optional<UiMessage> SplitUiMessage(std::string_view text);
// The message as a UI writes it: code, reply name, one blank, rest (no blank without a rest).
// The reply name must be one word.
std::string JoinUiMessage(char code, std::string_view replyName, std::string_view rest = {});

// The rest of L: logging on (not 0) or off, and the days of logs to keep.
struct LoggingRequest {
  std::int32_t enabled = 0;
  std::int32_t days = 0;

  bool operator==(const LoggingRequest&) const = default;
};
// Nullopt unless the rest starts with two integers of 32 bits; words after them are ignored.
std::optional<LoggingRequest> DecodeLogging(std::string_view rest);
std::string EncodeLogging(const LoggingRequest& request);

// The rest of P: selection, auto-config URL, auto-discovery flags, flags, bypass list, proxy
// server, server override, separated by white space. A text word of exactly "." is an empty
// text; any other is percent-decoded ("%" and two hexadecimal digits become that byte, "+"
// stays). Integers are 32-bit, signed or unsigned (-1 and 4294967295 are the same flags).
// Nullopt, with the reason in `why`, when a field is missing or malformed or a "%" lacks its
// two digits: the message is refused whole.
std::optional<ProxySettings> DecodeProxy(std::string_view rest, std::string* why = nullptr);
// Texts are percent-encoded where they would not survive as one word ("%", white space,
// control characters and bytes above 127), and an empty text or one of exactly "." is written
// so that it reads back as itself.
std::string EncodeProxy(const ProxySettings& settings);
// One text word of P either way.
std::string EncodeProxyWord(std::string_view text);
std::optional<std::string> DecodeProxyWord(std::string_view word);

// The rest of S: the session mode, without the white space around it; nullopt when empty.
std::optional<std::string> DecodeSessionMode(std::string_view rest);
// The rest of U: the URL, without the white space around it (ParseUrl judges the rest).
std::string DecodeUrl(std::string_view rest);

// The text of H: "%d %d %s", width, height and the page.
struct HtmlPage {
  std::int32_t width = -1;
  std::int32_t height = -1;
  std::string html;

  bool operator==(const HtmlPage&) const = default;
};
// The whole message, code included.
std::string EncodeHtml(const HtmlPage& page);
// `text` follows the code. Nullopt unless it starts with two integers and one blank.
std::optional<HtmlPage> DecodeHtml(std::string_view text);

// The text of T from the service: "%d %d", 1 when the base station is open, else 0, and the
// time of the last sleep command in seconds since 1970, 0 when none.
struct StatusReply {
  bool baseStationOpen = false;
  std::int64_t lastSleepTime = 0;

  bool operator==(const StatusReply&) const = default;
};
// The text only, without the code: SendStatusReply adds it.
std::string EncodeStatusText(const StatusReply& status);
// `text` follows the code.
std::optional<StatusReply> DecodeStatusText(std::string_view text);

// The whole I message for a status line.
std::string EncodeInfo(std::string_view line);

}  // namespace Pellux
