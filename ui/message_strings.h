#pragma once

#include <string>

namespace Pellux {

// The texts of the user-visible error conditions, by resource id: 101 to 106 for the six message
// keys, 107 for any other key. Windows reads them from the resources library's string table;
// the Linux daemon has them compiled in (BuiltInMessageStrings).
class MessageStrings {
 public:
  static constexpr int kFirstKeyId = 101;
  static constexpr int kOtherKeyId = 107;

  MessageStrings() = default;
  MessageStrings(const MessageStrings&) = delete;
  MessageStrings& operator=(const MessageStrings&) = delete;
  virtual ~MessageStrings() = default;

  // The text of resource `id`; empty when there is none. Any thread.
  [[nodiscard]] virtual std::string Text(int id) const = 0;

  // The resource id of a message key: kPXDaemonCommunicationError 101, kPXDaemonAlreadyRunning
  // 102, kPXDaemonConnectionFailed 103, kPXDaemonErrorOccurred 104, kPXDaemonDisconnected 105,
  // kPXDaemonStationUnPlugged 106, anything else 107.
  static int IdForKey(const std::string& key);
};

// The seven texts in English, with the deployment's support address (ui/support_address.h).
class BuiltInMessageStrings final : public MessageStrings {
 public:
  [[nodiscard]] std::string Text(int id) const override;
};

}  // namespace Pellux
