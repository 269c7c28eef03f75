#include "ui/channel/status_record.h"

#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

namespace Pellux {
namespace {

using Json = nlohmann::json;

// What a field of the wrong type or range says.
class BadField : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

const Json& Field(const Json& object, const char* name) {
  const auto found = object.find(name);
  if (found == object.end()) throw BadField(std::string("no field \"") + name + "\"");
  return *found;
}

const Json& ObjectField(const Json& object, const char* name) {
  const Json& value = Field(object, name);
  if (!value.is_object()) throw BadField(std::string("\"") + name + "\" is not an object");
  return value;
}

// An object, or null for none.
const Json* OptionalObject(const Json& object, const char* name) {
  const Json& value = Field(object, name);
  if (value.is_null()) return nullptr;
  if (!value.is_object()) {
    throw BadField(std::string("\"") + name + "\" is neither an object nor null");
  }
  return &value;
}

std::string Text(const Json& object, const char* name) {
  const Json& value = Field(object, name);
  if (!value.is_string()) throw BadField(std::string("\"") + name + "\" is not a text");
  return value.get<std::string>();
}

bool Flag(const Json& object, const char* name) {
  const Json& value = Field(object, name);
  if (!value.is_boolean()) throw BadField(std::string("\"") + name + "\" is not true or false");
  return value.get<bool>();
}

// A whole number within [low, high].
template <typename Number>
Number Whole(const Json& object, const char* name, Number low = std::numeric_limits<Number>::min(),
             Number high = std::numeric_limits<Number>::max()) {
  const Json& value = Field(object, name);
  bool inRange = false;
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    inRange = low <= 0 || number >= static_cast<std::uint64_t>(low);
    inRange = inRange && number <= static_cast<std::uint64_t>(high);
  } else if (value.is_number_integer()) {
    const auto number = value.get<std::int64_t>();
    inRange = std::cmp_greater_equal(number, low) && std::cmp_less_equal(number, high);
  } else {
    throw BadField(std::string("\"") + name + "\" is not a whole number");
  }
  if (!inRange) throw BadField(std::string("\"") + name + "\" is out of range");
  return value.get<Number>();
}

std::int64_t Time(const Json& object, const char* name) {
  return Whole<std::int64_t>(object, name, 0);
}

}  // namespace

std::string EncodeStatusRecord(const StatusRecord& record) {
  Json json;
  json["version"] = record.version;
  json["now"] = record.now;
  json["started_at"] = record.startedAt;
  json["mode"] = record.mode;
  json["link"] = record.link;
  json["base_station"] = {{"open", record.baseStation.open},
                          {"vendor_id", record.baseStation.vendorId},
                          {"product_id", record.baseStation.productId},
                          {"serial", record.baseStation.serial},
                          {"device", record.baseStation.device}};
  json["last_sleep"] = record.lastSleepTime;
  if (record.session) {
    const StatusRecord::Session& session = *record.session;
    json["session"] = {{"own", session.own},
                       {"mode", session.mode},
                       {"started_at", session.startedAt},
                       {"linked_at", session.linkedAt},
                       {"requests_posted", session.requestsPosted},
                       {"bytes_from_tracker", session.bytesFromTracker},
                       {"bytes_to_tracker", session.bytesToTracker},
                       {"operation", session.operation},
                       {"operations", session.operations}};
  } else {
    json["session"] = nullptr;
  }
  if (record.lastUpload) {
    const StatusRecord::Upload& upload = *record.lastUpload;
    json["last_upload"] = {{"mode", upload.mode},
                           {"finished_at", upload.finishedAt},
                           {"seconds", upload.seconds},
                           {"bytes", upload.bytes},
                           {"bytes_from_tracker", upload.bytesFromTracker},
                           {"bytes_to_tracker", upload.bytesToTracker},
                           {"requests_posted", upload.requestsPosted},
                           {"result", upload.result},
                           {"failure", upload.failure}};
  } else {
    json["last_upload"] = nullptr;
  }
  if (record.lastError) {
    json["last_error"] = {{"at", record.lastError->at}, {"key", record.lastError->key}};
  } else {
    json["last_error"] = nullptr;
  }
  json["log_file"] = record.logFile;
  json["proxy"] = record.proxy;
  // Texts from outside (a serial, a path) may hold anything: bytes that are not UTF-8 are
  // replaced rather than thrown over.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<StatusRecord> DecodeStatusRecord(std::string_view text, std::string* why) {
  const Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    if (why != nullptr) *why = "not a JSON object";
    return std::nullopt;
  }
  try {
    StatusRecord record;
    record.version = Text(json, "version");
    record.now = Time(json, "now");
    record.startedAt = Time(json, "started_at");
    record.mode = Text(json, "mode");
    record.link = Text(json, "link");
    const Json& station = ObjectField(json, "base_station");
    record.baseStation.open = Flag(station, "open");
    record.baseStation.vendorId = Whole<std::uint16_t>(station, "vendor_id");
    record.baseStation.productId = Whole<std::uint16_t>(station, "product_id");
    record.baseStation.serial = Text(station, "serial");
    record.baseStation.device = Text(station, "device");
    record.lastSleepTime = Time(json, "last_sleep");
    if (const Json* session = OptionalObject(json, "session")) {
      StatusRecord::Session& out = record.session.emplace(StatusRecord::Session{});
      out.own = Flag(*session, "own");
      out.mode = Text(*session, "mode");
      out.startedAt = Time(*session, "started_at");
      out.linkedAt = Time(*session, "linked_at");
      out.requestsPosted = Whole<std::uint32_t>(*session, "requests_posted");
      out.bytesFromTracker = Whole<std::uint64_t>(*session, "bytes_from_tracker");
      out.bytesToTracker = Whole<std::uint64_t>(*session, "bytes_to_tracker");
      out.operation = Whole<std::uint32_t>(*session, "operation");
      out.operations = Whole<std::uint32_t>(*session, "operations");
    }
    if (const Json* upload = OptionalObject(json, "last_upload")) {
      StatusRecord::Upload& out = record.lastUpload.emplace(StatusRecord::Upload{});
      out.mode = Text(*upload, "mode");
      out.finishedAt = Time(*upload, "finished_at");
      out.seconds = Time(*upload, "seconds");
      out.bytes = Whole<std::uint64_t>(*upload, "bytes");
      out.bytesFromTracker = Whole<std::uint64_t>(*upload, "bytes_from_tracker");
      out.bytesToTracker = Whole<std::uint64_t>(*upload, "bytes_to_tracker");
      out.requestsPosted = Whole<std::uint32_t>(*upload, "requests_posted");
      out.result = Text(*upload, "result");
      out.failure = Text(*upload, "failure");
    }
    if (const Json* error = OptionalObject(json, "last_error")) {
      record.lastError = StatusRecord::ShownError{Time(*error, "at"), Text(*error, "key")};
    }
    record.logFile = Text(json, "log_file");
    record.proxy = Text(json, "proxy");
    return record;
  } catch (const BadField& error) {
    if (why != nullptr) *why = error.what();
  } catch (const std::exception& error) {
    if (why != nullptr) *why = std::string("unreadable: ") + error.what();
  }
  return std::nullopt;
}

}  // namespace Pellux
