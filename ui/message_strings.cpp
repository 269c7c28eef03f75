#include "ui/message_strings.h"

#include "ui/support_address.h"

namespace Pellux {
namespace {

constexpr const char* kKeys[] = {"kPXDaemonCommunicationError", "kPXDaemonAlreadyRunning",
                                 "kPXDaemonConnectionFailed",   "kPXDaemonErrorOccurred",
                                 "kPXDaemonDisconnected",       "kPXDaemonStationUnPlugged"};

std::string MailLink() {
  const std::string address = SupportAddress();
  return "<a href=\"mailto:" + address + "\">" + address + "</a>";
}

}  // namespace

int MessageStrings::IdForKey(const std::string& key) {
  int id = kFirstKeyId;
  for (const char* known : kKeys) {
    if (key == known) return id;
    ++id;
  }
  return kOtherKeyId;
}

std::string BuiltInMessageStrings::Text(int id) const {
  switch (id) {
    case 101:
      return "A communication error has occurred, so the Pellux service has been restarted. "
             "Please try again.";
    case 102:
      return "Sorry, the Pellux service is currently in use by another user on your computer. "
             "Please terminate all other account setup sessions or try again later.";
    case 103:
      return "Connection to the Pellux servers failed. Please make sure that you are connected "
             "to the Internet.";
    case 104:
      return "An error occurred while connecting to Pellux servers. Please contact " + MailLink() +
             ".";
    case 105:
      return "Your Pellux has disconnected unexpectedly. Please make sure that your base station "
             "is connected and your Pellux is within wireless transmission range.";
    case 106:
      return "Your Pellux base station is no longer plugged in. Please plug in your base station "
             "and try again.";
    case 107:
      return "Uh Oh. Something failed in the Pellux Service. Please contact " + MailLink() + ".";
    default:
      return {};
  }
}

}  // namespace Pellux
