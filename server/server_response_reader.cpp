#include "server/server_response_reader.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <rapidxml/rapidxml.hpp>

#include "link/packet.h"
#include "server/base64.h"

namespace Pellux {
namespace {

using Node = rapidxml::xml_node<char>;

std::string ToLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string ToUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Base 10: leading white space, an optional sign, digits up to the first other character; no
// digits give 0, and values beyond the 32-bit range are clamped to the nearest bound.
std::int32_t ReadInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kBeyond) value = kBeyond;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max())
    return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

std::string_view ValueOf(const Node* node) {
  return node == nullptr ? std::string_view() : std::string_view(node->value(), node->value_size());
}

std::optional<std::string_view> Attribute(const Node* node, const char* name) {
  const auto* attribute = node->first_attribute(name);
  if (attribute == nullptr) return std::nullopt;
  return std::string_view(attribute->value(), attribute->value_size());
}

// Collects warnings; every one names the value exactly as the document wrote it.
class Warnings {
 public:
  explicit Warnings(std::vector<std::string>& list) : list_(list) {}

  void BadAttribute(const char* name, std::string_view value) {
    list_.push_back(std::string("invalid attribute value [") + name + "=\"" + std::string(value) +
                    "\"]");
  }
  void BadNode(const char* name, std::string_view value) {
    list_.push_back(std::string("invalid node value [") + name + "=\"" + std::string(value) +
                    "\"]");
  }

  // Stores the lower-cased attribute when it is one of `allowed`, else warns.
  template <std::size_t N>
  void Choice(const Node* node, const char* name, const char* const (&allowed)[N],
              std::string& field) {
    const auto value = Attribute(node, name);
    if (!value) return;
    std::string lower = ToLower(*value);
    for (const char* candidate : allowed) {
      if (lower == candidate) {
        field = std::move(lower);
        return;
      }
    }
    BadAttribute(name, *value);
  }

  void Flag(const Node* node, const char* name, bool& field) {
    const auto value = Attribute(node, name);
    if (!value) return;
    const std::string lower = ToLower(*value);
    if (lower == "true") {
      field = true;
    } else if (lower == "false") {
      field = false;
    } else {
      BadAttribute(name, *value);
    }
  }

 private:
  std::vector<std::string>& list_;
};

void ReadInteger(const Node* node, const char* name, std::int32_t& field) {
  if (const auto value = Attribute(node, name)) field = ReadInteger(*value);
}

void ReadResponse(const Node* element, ServerResponse& response, Warnings& warnings) {
  if (const auto method = Attribute(element, "method")) {
    const std::string upper = ToUpper(*method);
    if (upper == "POST" || upper == "GET" || upper == "HEAD") {
      response.method = upper;
    } else {
      warnings.BadAttribute("method", *method);
    }
  }
  static constexpr const char* kProtocols[] = {"http", "ftp", "gopher"};
  warnings.Choice(element, "protocol", kProtocols, response.protocol);
  if (const auto host = Attribute(element, "host")) response.host = *host;
  if (const auto path = Attribute(element, "path")) response.path = *path;
  warnings.Flag(element, "secure", response.secure);
  if (const auto port = Attribute(element, "port")) {
    const std::int32_t number = ReadInteger(*port);
    if (static_cast<std::uint32_t>(number) > 65535) {
      warnings.BadAttribute("port", *port);
    } else {
      response.port = number;
    }
  }
  if (response.port == 0) {
    if (response.protocol == "http") {
      response.port = response.secure ? 443 : 80;
    } else if (response.protocol == "ftp") {
      response.port = response.secure ? 22 : 21;
    } else if (response.protocol == "gopher") {
      response.port = 70;
    } else {
      response.port = 80;
    }
  }
  response.responseText = ValueOf(element);
}

void ReadClientDisplay(const Node* element, ServerResponse& response, Warnings& warnings) {
  if (const Node* message = element->first_node("message")) response.message = ValueOf(message);
  const Node* dialog = element->first_node("dialog");
  if (dialog == nullptr) return;
  warnings.Flag(dialog, "containsForm", response.containsForm);
  ReadInteger(dialog, "minDisplayTime", response.minDisplayTime);
  ReadInteger(dialog, "width", response.width);
  ReadInteger(dialog, "height", response.height);
  if (const Node* content = dialog->first_node()) response.dialogContent = ValueOf(content);
}

std::shared_ptr<Command> ReadCommand(const Node* node, Warnings& warnings) {
  auto command = std::make_shared<Command>();
  warnings.Flag(node, "encrypted", command->encrypted);
  ReadInteger(node, "retries", command->retries);
  if (const Node* opCode = node->first_node("opCode")) {
    // The command's seven header bytes; a shorter operation code leaves the rest zero.
    const std::vector<std::uint8_t> decoded = Base64Decode(ValueOf(opCode));
    std::array<std::uint8_t, 7> header{};
    for (std::size_t i = 0; i < header.size() && i < decoded.size(); ++i) header[i] = decoded[i];
    command->packet = std::make_shared<CommandPacket>(LogicalPacket(header));
  }
  if (const Node* payload = node->first_node("payloadData")) {
    command->payload = Base64Decode(ValueOf(payload));
  }
  return command;
}

void ReadDevice(const Node* element, ServerResponse& response, Warnings& warnings) {
  static constexpr const char* kTypes[] = {"tracker"};
  warnings.Choice(element, "type", kTypes, response.deviceType);
  response.pingInterval = -1;
  ReadInteger(element, "pingInterval", response.pingInterval);
  static constexpr const char* kActions[] = {"command", "acquire", "close"};
  warnings.Choice(element, "action", kActions, response.action);
  response.sleepPeriod = -1;
  ReadInteger(element, "sleepPeriod", response.sleepPeriod);

  if (const Node* acquire = element->first_node("trackerAcquire")) {
    if (const Node* beacon = acquire->first_node("beaconType")) {
      const std::string_view text = ValueOf(beacon);
      std::string lower = ToLower(text);
      if (lower == "standard" || lower == "special") {
        response.beaconType = std::move(lower);
      } else {
        warnings.BadNode("beaconType", text);
      }
    }
    if (const Node* timeOut = acquire->first_node("timeOut")) {
      const std::int32_t seconds = ReadInteger(ValueOf(timeOut));
      if (seconds <= 600) response.acquireTimeOut = seconds;
    }
  }

  const Node* operations = element->first_node("remoteOps");
  if (operations == nullptr) return;
  static constexpr const char* kHandlers[] = {"executeall", "executetillerror"};
  warnings.Choice(operations, "errorHandler", kHandlers, response.errorHandler);
  static constexpr const char* kResponders[] = {"respondalways", "respondnodisconnect",
                                                "respondnoerror"};
  warnings.Choice(operations, "responder", kResponders, response.responder);
  // From the first "remoteOp" on, every sibling is an operation, whatever its name.
  for (const Node* node = operations->first_node("remoteOp"); node != nullptr;
       node = node->next_sibling()) {
    response.remoteOps.push_back(ReadCommand(node, warnings));
  }
}

}  // namespace

int XmlNestingDepth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  const auto skipPast = [&](std::size_t from, std::string_view end) {
    const std::size_t found = text.find(end, from);
    return found == std::string_view::npos ? text.size() : found + end.size();
  };
  std::size_t i = 0;
  while (i < text.size() && deepest <= limit) {
    i = text.find('<', i);
    if (i == std::string_view::npos) break;
    const std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = skipPast(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skipPast(i + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      i = skipPast(i + 2, "?>");
    } else if (rest.starts_with("<!")) {
      // A DOCTYPE may hold bracketed declarations; the library skips them without descending.
      int brackets = 0;
      for (i += 2; i < text.size(); ++i) {
        if (text[i] == '[') ++brackets;
        if (text[i] == ']') --brackets;
        if (text[i] == '>' && brackets <= 0) break;
      }
      ++i;
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      i = skipPast(i + 2, ">");
    } else {
      // An opening tag: find its end outside quoted attribute values.
      char quote = 0;
      std::size_t j = i + 1;
      for (; j < text.size(); ++j) {
        const char c = text[j];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      const bool selfClosing = j < text.size() && j > i + 1 && text[j - 1] == '/';
      // An unterminated tag still costs the library one level before it fails.
      if (!selfClosing) deepest = std::max(deepest, ++depth);
      i = j + 1;
    }
  }
  return deepest;
}

bool ParseServerResponse(std::string_view text, ServerResponse& response,
                         std::vector<std::string>& warnings, std::string* errorText) {
  // The library parses in place and stops at the first zero byte, as the document does.
  const std::size_t end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);

  const auto fail = [&](std::string message) {
    if (errorText != nullptr) *errorText = std::move(message);
    return false;
  };
  if (XmlNestingDepth(text, kMaxDocumentDepth) > kMaxDocumentDepth) {
    return fail("document nested deeper than " + std::to_string(kMaxDocumentDepth) + " levels");
  }

  std::vector<char> buffer(text.size() + 1, '\0');
  std::copy(text.begin(), text.end(), buffer.begin());
  rapidxml::xml_document<char> document;
  try {
    document.parse<0>(buffer.data());
  } catch (const rapidxml::parse_error& error) {
    return fail(error.what());
  }
  const Node* root = document.first_node();
  if (root == nullptr) return fail("Invalid Pellux XML file");

  std::vector<std::string> found;
  Warnings collector(found);
  if (const auto version = Attribute(root, "version")) response.version = *version;
  if (const Node* element = root->first_node("response")) {
    ReadResponse(element, response, collector);
  }
  if (const Node* element = root->first_node("clientDisplay")) {
    ReadClientDisplay(element, response, collector);
  }
  if (const Node* element = root->first_node("device")) ReadDevice(element, response, collector);
  warnings.insert(warnings.end(), found.begin(), found.end());
  return true;
}

}  // namespace Pellux
