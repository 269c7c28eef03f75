// DSI_SiUSBXp_3_1.DLL for tests: the USBXpress calls the program makes, over virtual base
// stations running in real time inside this library. Never installed. Its control export
// (stand_in_control.h) takes these commands ("device" is an index among the attached devices):
//   reset                      close every handle and forget every device
//   attach {vid, pid, serial, serialWord56, product, failOptions, failOpen, failCall,
//           stationSerial, trackerSerial, trackerIdleMs}   -> {device}
//   unplug / replug {device}   the device leaves or rejoins the list; an open one goes dead
//   answer {device, prefix, kind: status|download|upload, data|size, statusCode, ...}
//   faults {device, silent, inRange, failTransfers}
//   send {device, bytes}       bytes from the device, as if the station sent them
//   stream {device, pattern, repeat}   a pattern served to reads as fast as they come
//   hangReads {device, ms}     the next SI_Read stays in the library that long
//   failReads {device, status} SI_Read answers with that status from now on
//   failWrites {device, on}
//   state                      {devices: [counters, settings, tracker], calls, timeouts,
//                               config: what came of the configuration file}
//   clearCalls
// and, from the stand-in manufacturing library about a handle: handleInfo, probe, cpReset.
// The same requests may come from "PelluxStandIn.json" beside the library, for a process the
// test cannot call into (stand_in_config_file.h).

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "device/bridge_api_win.h"
#include "device/dsi_serial.h"
#include "device/usb_text_rules.h"
#include "sim/stand_in/stand_in_config_file.h"
#include "sim/stand_in/stand_in_control.h"
#include "sim/virtual_base_station.h"

namespace Pellux::StandIn {
namespace {

using nlohmann::json;
namespace Si = SiApi;

// What a completed, cancelled or pending overlapped read reports in its Internal field.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

struct Device;

// One open handle: receives the station's bytes and completes the pending read with them.
class OpenDevice final : public DSISerialCallback {
 public:
  OpenDevice(Device& owner, std::uintptr_t number) : device(owner), id(number) {}

  void ProcessByte(std::uint8_t byte) override { Receive(&byte, 1); }
  // The station's own error reports (an unplugged module): a real bridge simply goes quiet.
  void Error(std::uint8_t /*code*/) override {}

  void Receive(const std::uint8_t* bytes, std::size_t size);
  // Mutex held: completes the read in flight with `byte`.
  void CompletePendingLocked(std::uint8_t byte);

  Device& device;
  const std::uintptr_t id;
  std::mutex mutex;
  std::condition_variable arrived;
  // Guarded by mutex.
  std::deque<std::uint8_t> received;
  std::uint8_t* pendingBuffer = nullptr;
  OVERLAPPED* pendingOverlapped = nullptr;
  bool closed = false;
  // Stream mode: a pattern served again and again to reads, ahead of everything else.
  std::vector<std::uint8_t> stream;
  std::atomic<std::uint64_t> streamLeft{0};
  std::size_t streamAt = 0;
  // SI_Read calls on this handle that are inside the library now.
  std::atomic<int> readsInside{0};
};

struct Counters {
  std::atomic<std::uint64_t> opens{0};
  std::atomic<std::uint64_t> closes{0};
  std::atomic<std::uint64_t> resets{0};
  std::atomic<std::uint64_t> immediateReads{0};
  std::atomic<std::uint64_t> pendingReads{0};
  std::atomic<std::uint64_t> completedPending{0};
  std::atomic<std::uint64_t> cancelledPending{0};
  std::atomic<std::uint64_t> probes{0};
  std::atomic<std::uint64_t> failedProbes{0};
  // SI_Close calls made while an SI_Read on the same handle was still inside the library: a
  // real driver frees what that read uses.
  std::atomic<std::uint64_t> closesDuringRead{0};
  std::atomic<std::uint64_t> bytesWritten{0};
  std::atomic<std::uint64_t> bytesRead{0};
};

struct Device {
  std::string vendorText = "10C4";
  std::string productIdText = "84C4";
  UsbTextField serial{};
  UsbTextField product{};
  std::set<DWORD> failingOptions;
  bool failOpen = false;
  // A call that fails on this device's handle ("SI_SetBaudRate", ...).
  std::string failCall;
  bool plugged = true;
  bool failWrites = false;
  // SI_Read answers this status instead of reading (0: read normally).
  Si::Status readStatus = Si::kSuccess;
  // The next SI_Read sleeps this long before it looks at anything.
  DWORD hangMs = 0;
  DWORD lastBaud = 0;
  WORD lastLineControl = 0;
  std::vector<int> lastFlow;
  Counters counters;
  std::unique_ptr<VirtualBaseStation> station;
  std::shared_ptr<OpenDevice> open;
};

void OpenDevice::CompletePendingLocked(std::uint8_t byte) {
  *pendingBuffer = byte;
  pendingOverlapped->InternalHigh = 1;
  pendingOverlapped->Internal = kStatusSuccess;
  const HANDLE event = pendingOverlapped->hEvent;
  pendingOverlapped = nullptr;
  pendingBuffer = nullptr;
  ++device.counters.completedPending;
  ++device.counters.bytesRead;
  SetEvent(event);
}

void OpenDevice::Receive(const std::uint8_t* bytes, std::size_t size) {
  std::lock_guard guard(mutex);
  if (closed) return;
  for (std::size_t i = 0; i < size; ++i) {
    if (pendingOverlapped != nullptr) {
      CompletePendingLocked(bytes[i]);
    } else {
      received.push_back(bytes[i]);
    }
  }
  arrived.notify_all();
}

// Every device and handle of the library. Never destroyed: stations' threads may still run
// when the process ends.
struct Bus {
  std::mutex mutex;
  std::vector<std::unique_ptr<Device>> devices;
  std::map<std::uintptr_t, std::shared_ptr<OpenDevice>> handles;
  std::uintptr_t nextHandle = 0x5100;
  DWORD readTimeout = 500;
  DWORD writeTimeout = 500;
  std::vector<std::string> calls;
  std::string lastReply = "{}";
  // What came of the configuration file.
  json config;
};

json Run(Bus& bus, const json& request);

// The bus, made on the library's first call and configured from the file beside the library.
Bus& TheBus() {
  static Bus* const bus = [] {
    auto* made = new Bus;
    // No other thread can reach the bus before it is returned: no lock needed for the requests.
    const ConfigFile file = ReadConfigFile(reinterpret_cast<const void*>(&TheBus));
    made->config =
        ApplyConfigFile(file, [made](const json& request) { return Run(*made, request); });
    return made;
  }();
  return *bus;
}

// Lock held: the index-th plugged device, or null.
Device* PluggedDevice(Bus& bus, DWORD number) {
  DWORD index = 0;
  for (const auto& device : bus.devices) {
    if (!device->plugged) continue;
    if (index == number) return device.get();
    ++index;
  }
  return nullptr;
}

// Lock held.
std::shared_ptr<OpenDevice> FindHandle(Bus& bus, HANDLE handle) {
  const auto found = bus.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == bus.handles.end() ? nullptr : found->second;
}

void Record(Bus& bus, std::string call) {
  bus.calls.push_back(std::move(call));
}

// Lock held: closes an open handle. The station is stopped with the bus lock held; its loop
// never takes that lock.
void CloseHandleLocked(Bus& bus, const std::shared_ptr<OpenDevice>& open) {
  {
    std::lock_guard guard(open->mutex);
    open->closed = true;
    if (open->pendingOverlapped != nullptr) {
      // As a closed device handle cancels its reads.
      open->pendingOverlapped->InternalHigh = 0;
      open->pendingOverlapped->Internal = kStatusCancelled;
      const HANDLE event = open->pendingOverlapped->hEvent;
      open->pendingOverlapped = nullptr;
      open->pendingBuffer = nullptr;
      ++open->device.counters.cancelledPending;
      SetEvent(event);
    }
  }
  open->arrived.notify_all();
  bus.handles.erase(open->id);
  Device& device = open->device;
  if (device.station) device.station->Close(false);
  device.open.reset();
  ++device.counters.closes;
}

std::vector<std::uint8_t> Bytes(const json& value) {
  std::vector<std::uint8_t> bytes;
  for (const json& each : value) bytes.push_back(each.get<std::uint8_t>());
  return bytes;
}

// "data": [bytes], or "size": n for the 0, 1, 2, ... pattern wrapping at 251.
std::vector<std::uint8_t> DataOf(const json& request) {
  if (request.contains("data")) return Bytes(request["data"]);
  std::vector<std::uint8_t> bytes(request.value("size", 0U));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

TrackerAnswer AnswerOf(const json& request) {
  const std::string kind = request.value("kind", "status");
  if (kind == "download") return TrackerAnswer::Download(DataOf(request));
  if (kind == "upload") {
    std::optional<std::size_t> size;
    if (request.contains("uploadSize")) size = request["uploadSize"].get<std::size_t>();
    return TrackerAnswer::Upload(request.value("requestSize", std::uint16_t{512}), size,
                                 request.value("statusCode", TrackerAnswer::kSuccess));
  }
  return TrackerAnswer::Status(request.value("statusCode", TrackerAnswer::kSuccess),
                               request.value("statusData", 0U));
}

const char* TrackerStateName(TrackerLinkState state) {
  switch (state) {
    case TrackerLinkState::Searching:
      return "searching";
    case TrackerLinkState::Linked:
      return "linked";
    case TrackerLinkState::Asleep:
      return "asleep";
  }
  return "?";
}

json DeviceState(const Device& device) {
  json state;
  state["plugged"] = device.plugged;
  state["open"] = device.open != nullptr;
  state["baud"] = device.lastBaud;
  state["lineControl"] = device.lastLineControl;
  state["flow"] = device.lastFlow;
  const Counters& c = device.counters;
  state["opens"] = c.opens.load();
  state["closes"] = c.closes.load();
  state["resets"] = c.resets.load();
  state["immediateReads"] = c.immediateReads.load();
  state["pendingReads"] = c.pendingReads.load();
  state["completedPending"] = c.completedPending.load();
  state["cancelledPending"] = c.cancelledPending.load();
  state["probes"] = c.probes.load();
  state["failedProbes"] = c.failedProbes.load();
  state["closesDuringRead"] = c.closesDuringRead.load();
  state["bytesWritten"] = c.bytesWritten.load();
  state["bytesRead"] = c.bytesRead.load();
  if (device.station) {
    const TrackerSnapshot tracker = device.station->Tracker();
    state["hostMessages"] = device.station->HostMessageCount();
    state["tracker"] = {{"state", TrackerStateName(tracker.state)},
                        {"hostId", tracker.hostId},
                        {"commands", tracker.commands.size()},
                        {"dataErrors", tracker.dataErrors},
                        {"sleepUnits", tracker.sleepUnits}};
  }
  return state;
}

// Lock held. Runs one command of the control export.
json Run(Bus& bus, const json& request) {
  const std::string command = request.value("command", "");
  json reply{{"ok", true}};
  const auto device = [&]() -> Device& {
    const std::size_t index = request.value("device", 0U);
    if (index >= bus.devices.size()) throw std::out_of_range("no such device");
    return *bus.devices[index];
  };
  if (command == "reset") {
    while (!bus.handles.empty()) CloseHandleLocked(bus, bus.handles.begin()->second);
    bus.devices.clear();
    bus.calls.clear();
    bus.readTimeout = 500;
    bus.writeTimeout = 500;
  } else if (command == "attach") {
    auto added = std::make_unique<Device>();
    added->vendorText = request.value("vid", "10C4");
    added->productIdText = request.value("pid", "84C4");
    added->serial = MakeTextField(request.value("serial", "4021337"));
    if (request.contains("serialWord56")) {
      const auto word = request["serialWord56"].get<std::uint32_t>();
      for (std::size_t i = 0; i < 4; ++i) {
        added->serial[56 + i] = static_cast<char>((word >> (8 * i)) & 0xFFU);
      }
    }
    added->product = MakeTextField(request.value("product", "ANT USB Stick"));
    for (const json& option : request.value("failOptions", json::array())) {
      added->failingOptions.insert(option.get<DWORD>());
    }
    added->failOpen = request.value("failOpen", false);
    added->failCall = request.value("failCall", "");
    BaseStationOptions options;
    options.serialNumber = request.value("stationSerial", 4021337U);
    options.productId = ParseHexId(added->productIdText);
    options.productText = FieldText(added->product);
    options.tracker.serialNumber = request.value("trackerSerial", options.tracker.serialNumber);
    if (request.contains("trackerIdleMs")) {
      options.tracker.sessionIdleTimeout =
          std::chrono::milliseconds(request["trackerIdleMs"].get<std::int64_t>());
    }
    added->station = std::make_unique<VirtualBaseStation>(SystemClock::Instance(), options);
    bus.devices.push_back(std::move(added));
    reply["device"] = bus.devices.size() - 1;
  } else if (command == "unplug") {
    Device& d = device();
    d.plugged = false;
    if (d.open) d.station->Unplug(DSISerialCallback::kDeviceUnreadable);
  } else if (command == "replug") {
    Device& d = device();
    d.plugged = true;
    d.station->Replug();
  } else if (command == "answer") {
    const std::vector<std::uint8_t> prefix = Bytes(request.value("prefix", json::array()));
    const TrackerAnswer answer = AnswerOf(request);
    device().station->WithTracker(
        [&](VirtualTracker& tracker) { tracker.SetAnswer(prefix, answer); });
  } else if (command == "faults") {
    FaultPlan& plan = device().station->Faults();
    if (request.contains("silent")) plan.SetTrackerSilent(request["silent"].get<bool>());
    if (request.contains("inRange")) plan.SetTrackerInRange(request["inRange"].get<bool>());
    if (request.contains("failTransfers")) plan.FailTransfers(request["failTransfers"].get<int>());
  } else if (command == "send") {
    Device& d = device();
    const std::vector<std::uint8_t> bytes = Bytes(request.value("bytes", json::array()));
    if (!d.open) throw std::runtime_error("not open");
    d.open->Receive(bytes.data(), bytes.size());
  } else if (command == "stream") {
    Device& d = device();
    if (!d.open) throw std::runtime_error("not open");
    OpenDevice& open = *d.open;
    std::lock_guard guard(open.mutex);
    open.stream = Bytes(request.value("pattern", json::array()));
    open.streamLeft = open.stream.empty() ? 0 : request.value("repeat", 1ULL) * open.stream.size();
    open.streamAt = 0;
    if (open.streamLeft > 0 && open.pendingOverlapped != nullptr) {
      // The read in flight takes the first byte; the next reads find the rest at once.
      const std::uint8_t first = open.stream[0];
      open.streamAt = 1 % open.stream.size();
      --open.streamLeft;
      open.CompletePendingLocked(first);
    }
    open.arrived.notify_all();
  } else if (command == "hangReads") {
    device().hangMs = request.value("ms", 0U);
  } else if (command == "failReads") {
    device().readStatus = request.value("status", Si::kReadError);
  } else if (command == "failWrites") {
    device().failWrites = request.value("on", true);
  } else if (command == "state") {
    json devices = json::array();
    for (const auto& each : bus.devices) devices.push_back(DeviceState(*each));
    reply["devices"] = devices;
    reply["calls"] = bus.calls;
    reply["timeouts"] = {bus.readTimeout, bus.writeTimeout};
    reply["config"] = bus.config;
  } else if (command == "clearCalls") {
    bus.calls.clear();
  } else if (command == "handleInfo" || command == "probe" || command == "cpReset") {
    // From the stand-in manufacturing library, about a handle this library gave.
    const auto open =
        FindHandle(bus, reinterpret_cast<HANDLE>(request.value("handle", std::uintptr_t{0})));
    reply["valid"] = open != nullptr;
    if (open) {
      Device& d = open->device;
      reply["plugged"] = d.plugged;
      reply["vid"] = d.vendorText;
      reply["pid"] = d.productIdText;
      reply["serial"] = FieldText(d.serial);
      reply["product"] = FieldText(d.product);
      if (command == "probe") {
        ++d.counters.probes;
        if (!d.plugged) ++d.counters.failedProbes;
      } else if (command == "cpReset") {
        ++d.counters.resets;
        Record(bus, "CP210x_Reset");
      }
    }
  } else {
    reply["ok"] = false;
    reply["error"] = "unknown command: " + command;
  }
  return reply;
}

// Finds the open handle for a call, under the bus lock; records the call and answers a failure
// scripted for it. Returns the handle, or null with `status` set.
std::shared_ptr<OpenDevice> Enter(HANDLE handle, const char* call, const std::string& recorded,
                                  Si::Status& status) {
  Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  if (!recorded.empty()) Record(bus, recorded);
  std::shared_ptr<OpenDevice> open = FindHandle(bus, handle);
  if (!open) {
    status = Si::kInvalidHandle;
    return nullptr;
  }
  if (open->device.failCall == call) {
    status = Si::kDeviceIoFailed;
    return nullptr;
  }
  status = Si::kSuccess;
  return open;
}

}  // namespace
}  // namespace Pellux::StandIn

using Pellux::StandIn::TheBus;
namespace Si = Pellux::SiApi;
namespace StandIn = Pellux::StandIn;

extern "C" {

DWORD WINAPI PelluxStandIn_Control(const char* request, char* reply, DWORD replySize) {
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  std::string text;
  try {
    const nlohmann::json parsed = nlohmann::json::parse(request != nullptr ? request : "{}");
    if (parsed.value("command", "") == "lastReply") {
      return StandIn::WriteReply(bus.lastReply, reply, replySize);
    }
    text = StandIn::Run(bus, parsed).dump();
  } catch (const std::exception& error) {
    text = nlohmann::json{{"ok", false}, {"error", error.what()}}.dump();
  }
  bus.lastReply = text;
  return StandIn::WriteReply(text, reply, replySize);
}

Si::Status WINAPI SI_GetNumDevices(LPDWORD count) {
  if (count == nullptr) return Si::kInvalidParameter;
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  DWORD plugged = 0;
  for (const auto& device : bus.devices) plugged += device->plugged ? 1 : 0;
  *count = plugged;
  return Si::kSuccess;
}

Si::Status WINAPI SI_GetProductString(DWORD deviceNumber, LPVOID text, DWORD option) {
  if (text == nullptr) return Si::kInvalidParameter;
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  const StandIn::Device* device = StandIn::PluggedDevice(bus, deviceNumber);
  if (device == nullptr || device->failingOptions.contains(option)) return Si::kDeviceNotFound;
  auto* out = static_cast<char*>(text);
  const auto copyText = [out](const std::string& value) {
    const Pellux::UsbTextField field = Pellux::MakeTextField(value);
    std::memcpy(out, field.data(), field.size());
  };
  switch (option) {
    case Si::kReturnSerialNumber:
      // The whole field, with whatever follows the text's terminator.
      std::memcpy(out, device->serial.data(), device->serial.size());
      return Si::kSuccess;
    case Si::kReturnDescription:
      std::memcpy(out, device->product.data(), device->product.size());
      return Si::kSuccess;
    case 2:
      copyText("\\\\?\\USB#VID_" + device->vendorText + "&PID_" + device->productIdText + "#" +
               Pellux::FieldText(device->serial));
      return Si::kSuccess;
    case Si::kReturnVid:
      copyText(device->vendorText);
      return Si::kSuccess;
    case Si::kReturnPid:
      copyText(device->productIdText);
      return Si::kSuccess;
    default:
      return Si::kInvalidParameter;
  }
}

Si::Status WINAPI SI_Open(DWORD deviceNumber, HANDLE* handle) {
  if (handle == nullptr) return Si::kInvalidParameter;
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  StandIn::Record(bus, "SI_Open(" + std::to_string(deviceNumber) + ")");
  StandIn::Device* device = StandIn::PluggedDevice(bus, deviceNumber);
  if (device == nullptr || device->failOpen) return Si::kDeviceNotFound;
  if (device->open) return Si::kDeviceIoFailed;
  const std::uintptr_t id = bus.nextHandle++;
  auto open = std::make_shared<StandIn::OpenDevice>(*device, id);
  device->station->SetCallback(open.get());
  device->station->Init(Pellux::VirtualBaseStation::kAutoInitBaud, 0);
  if (!device->station->Open()) return Si::kDeviceIoFailed;
  device->open = open;
  bus.handles[id] = open;
  ++device->counters.opens;
  *handle = reinterpret_cast<HANDLE>(id);
  return Si::kSuccess;
}

Si::Status WINAPI SI_Close(HANDLE handle) {
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  StandIn::Record(bus, "SI_Close");
  const auto open = StandIn::FindHandle(bus, handle);
  if (!open) return Si::kInvalidHandle;
  if (open->readsInside.load() > 0) ++open->device.counters.closesDuringRead;
  StandIn::CloseHandleLocked(bus, open);
  return Si::kSuccess;
}

Si::Status WINAPI SI_Read(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD bytesRead,
                          OVERLAPPED* overlapped) {
  if (buffer == nullptr || bytesRead == nullptr || toRead == 0) return Si::kInvalidParameter;
  *bytesRead = 0;
  Si::Status status = Si::kSuccess;
  std::shared_ptr<StandIn::OpenDevice> open = StandIn::Enter(handle, "SI_Read", "", status);
  if (!open) return status;
  // Counted while inside, whichever way the call leaves.
  struct Inside {
    explicit Inside(std::atomic<int>& count) : reads(count) { ++reads; }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
    ~Inside() { --reads; }
    std::atomic<int>& reads;
  } const inside(open->readsInside);
  StandIn::Device& device = open->device;
  DWORD hang = 0;
  DWORD readTimeout = 0;
  Si::Status scripted = Si::kSuccess;
  {
    std::lock_guard guard(TheBus().mutex);
    hang = std::exchange(device.hangMs, 0);
    scripted = device.readStatus;
    readTimeout = TheBus().readTimeout;
  }
  if (hang > 0) {
    // A driver that does not come back for a while.
    std::this_thread::sleep_for(std::chrono::milliseconds(hang));
  }
  if (scripted != Si::kSuccess) return scripted;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::unique_lock lock(open->mutex);
  if (open->closed) return Si::kInvalidHandle;
  const auto serveAtOnce = [&] {
    DWORD count = 0;
    while (count < toRead && open->streamLeft > 0) {
      out[count++] = open->stream[open->streamAt];
      open->streamAt = (open->streamAt + 1) % open->stream.size();
      --open->streamLeft;
    }
    while (count < toRead && !open->received.empty()) {
      out[count++] = open->received.front();
      open->received.pop_front();
    }
    *bytesRead = count;
    device.counters.bytesRead += count;
    return count;
  };
  if (serveAtOnce() > 0) {
    ++device.counters.immediateReads;
    return Si::kSuccess;
  }
  if (overlapped == nullptr) {
    open->arrived.wait_for(lock, std::chrono::milliseconds(readTimeout), [&] {
      return open->closed || open->streamLeft > 0 || !open->received.empty();
    });
    if (open->closed) return Si::kInvalidHandle;
    if (serveAtOnce() > 0) return Si::kSuccess;
    return Si::kReadTimedOut;
  }
  // Nothing there yet: the read completes on the overlapped event when a byte comes.
  overlapped->Internal = StandIn::kStatusPending;
  overlapped->InternalHigh = 0;
  open->pendingBuffer = out;
  open->pendingOverlapped = overlapped;
  ++device.counters.pendingReads;
  return Si::kIoPending;
}

Si::Status WINAPI SI_Write(HANDLE handle, LPVOID data, DWORD toWrite, LPDWORD bytesWritten,
                           OVERLAPPED* /*overlapped*/) {
  if (data == nullptr || bytesWritten == nullptr) return Si::kInvalidParameter;
  *bytesWritten = 0;
  Si::Status status = Si::kSuccess;
  const auto open = StandIn::Enter(handle, "SI_Write", "", status);
  if (!open) return status;
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  StandIn::Device& device = open->device;
  if (!device.plugged || device.failWrites || !device.station) return Si::kWriteError;
  if (!device.station->WriteBytes(static_cast<const std::uint8_t*>(data), toWrite)) {
    return Si::kWriteError;
  }
  device.counters.bytesWritten += toWrite;
  *bytesWritten = toWrite;
  return Si::kSuccess;
}

Si::Status WINAPI SI_SetTimeouts(DWORD readTimeout, DWORD writeTimeout) {
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  StandIn::Record(bus, "SI_SetTimeouts(" + std::to_string(readTimeout) + "," +
                           std::to_string(writeTimeout) + ")");
  bus.readTimeout = readTimeout;
  bus.writeTimeout = writeTimeout;
  return Si::kSuccess;
}

Si::Status WINAPI SI_GetTimeouts(LPDWORD readTimeout, LPDWORD writeTimeout) {
  if (readTimeout == nullptr || writeTimeout == nullptr) return Si::kInvalidParameter;
  StandIn::Bus& bus = TheBus();
  std::lock_guard guard(bus.mutex);
  StandIn::Record(bus, "SI_GetTimeouts");
  *readTimeout = bus.readTimeout;
  *writeTimeout = bus.writeTimeout;
  return Si::kSuccess;
}

Si::Status WINAPI SI_SetBaudRate(HANDLE handle, DWORD baud) {
  Si::Status status = Si::kSuccess;
  const auto open = StandIn::Enter(handle, "SI_SetBaudRate",
                                   "SI_SetBaudRate(" + std::to_string(baud) + ")", status);
  if (!open) return status;
  std::lock_guard guard(TheBus().mutex);
  open->device.lastBaud = baud;
  return Si::kSuccess;
}

Si::Status WINAPI SI_SetLineControl(HANDLE handle, WORD lineControl) {
  Si::Status status = Si::kSuccess;
  const auto open =
      StandIn::Enter(handle, "SI_SetLineControl",
                     "SI_SetLineControl(" + std::to_string(lineControl) + ")", status);
  if (!open) return status;
  std::lock_guard guard(TheBus().mutex);
  open->device.lastLineControl = lineControl;
  return Si::kSuccess;
}

Si::Status WINAPI SI_SetFlowControl(HANDLE handle, BYTE cts, BYTE rts, BYTE dtr, BYTE dsr, BYTE dcd,
                                    BOOL xonXoff) {
  const std::vector<int> flow{cts, rts, dtr, dsr, dcd, xonXoff != FALSE ? 1 : 0};
  std::string recorded = "SI_SetFlowControl(";
  for (std::size_t i = 0; i < flow.size(); ++i) {
    recorded += (i > 0 ? "," : "") + std::to_string(flow[i]);
  }
  Si::Status status = Si::kSuccess;
  const auto open = StandIn::Enter(handle, "SI_SetFlowControl", recorded + ")", status);
  if (!open) return status;
  std::lock_guard guard(TheBus().mutex);
  open->device.lastFlow = flow;
  return Si::kSuccess;
}

Si::Status WINAPI SI_FlushBuffers(HANDLE handle, BYTE transmit, BYTE receive) {
  Si::Status status = Si::kSuccess;
  const auto open = StandIn::Enter(
      handle, "SI_FlushBuffers",
      "SI_FlushBuffers(" + std::to_string(transmit) + "," + std::to_string(receive) + ")", status);
  if (!open) return status;
  if (receive != 0) {
    std::lock_guard guard(open->mutex);
    open->received.clear();
  }
  return Si::kSuccess;
}

Si::Status WINAPI SI_CheckRXQueue(HANDLE handle, LPDWORD bytesInQueue, LPDWORD queueStatus) {
  if (bytesInQueue == nullptr || queueStatus == nullptr) return Si::kInvalidParameter;
  Si::Status status = Si::kSuccess;
  const auto open = StandIn::Enter(handle, "SI_CheckRXQueue", "", status);
  if (!open) return status;
  std::lock_guard guard(open->mutex);
  *bytesInQueue = static_cast<DWORD>(open->received.size());
  // SI_RX_EMPTY 0, SI_RX_READY 2.
  *queueStatus = open->received.empty() ? 0 : 2;
  return Si::kSuccess;
}

}  // extern "C"

// The exports keep the library's own prototypes.
static_assert(std::is_same_v<decltype(&SI_Open), Si::SI_OpenFunction>);
static_assert(std::is_same_v<decltype(&SI_GetNumDevices), Si::SI_GetNumDevicesFunction>);
static_assert(std::is_same_v<decltype(&SI_Close), Si::SI_CloseFunction>);
static_assert(std::is_same_v<decltype(&SI_Read), Si::SI_ReadFunction>);
static_assert(std::is_same_v<decltype(&SI_Write), Si::SI_WriteFunction>);
static_assert(std::is_same_v<decltype(&SI_SetTimeouts), Si::SI_SetTimeoutsFunction>);
static_assert(std::is_same_v<decltype(&SI_GetTimeouts), Si::SI_GetTimeoutsFunction>);
static_assert(std::is_same_v<decltype(&SI_SetBaudRate), Si::SI_SetBaudRateFunction>);
static_assert(std::is_same_v<decltype(&SI_SetLineControl), Si::SI_SetLineControlFunction>);
static_assert(std::is_same_v<decltype(&SI_SetFlowControl), Si::SI_SetFlowControlFunction>);
static_assert(std::is_same_v<decltype(&SI_FlushBuffers), Si::SI_FlushBuffersFunction>);
static_assert(std::is_same_v<decltype(&SI_CheckRXQueue), Si::SI_CheckRXQueueFunction>);
static_assert(std::is_same_v<decltype(&SI_GetProductString), Si::SI_GetProductStringFunction>);
static_assert(std::is_same_v<decltype(&PelluxStandIn_Control), StandIn::ControlFunction>);
