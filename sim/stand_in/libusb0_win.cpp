// libusb0.dll for tests: a scripted bus of devices with descriptors and strings, as the
// libusb-win32 calls the program makes see it (cdecl, as the real library). Never installed.
// Configured through PelluxStandIn_Control (stand_in_control.h):
//   {"command":"bus","findBusses":n,"findDevices":n,"busses":[[{"vid":..,"pid":..,
//     "product":"..","serial":"..","openFails":false,"stringsFail":false}, ...], ...]}
//   {"command":"state"}: {"inits":n,"opens":n,"closes":n,"config":{...}}
// The same requests may come from "PelluxStandIn.json" beside the library, for a process the
// test cannot call into (stand_in_config_file.h); "config" tells what came of that file.

#include <windows.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>
#include <vector>

#include "device/bridge_api_win.h"
#include "sim/stand_in/stand_in_config_file.h"
#include "sim/stand_in/stand_in_control.h"

namespace Usb = Pellux::UsbApi;

namespace {

struct ScriptedDevice {
  unsigned short vendorId = 0;
  unsigned short productId = 0;
  std::string product;
  std::string serial;
  bool openFails = false;
  bool stringsFail = false;
};

struct OpenHandle {
  Usb::usb_device* device = nullptr;
  const ScriptedDevice* script = nullptr;
};

// String descriptor indexes of every scripted device.
constexpr unsigned char kProductIndex = 2;
constexpr unsigned char kSerialIndex = 3;

// The scripted bus and the listing libusb made of it. Never destroyed.
struct Library {
  std::mutex mutex;
  std::vector<std::vector<ScriptedDevice>> script;
  int findBussesResult = 1;
  int findDevicesResult = 1;
  // The listing of the last usb_find_devices: stable records, as libusb keeps them.
  std::vector<std::unique_ptr<Usb::usb_bus>> busses;
  std::vector<std::unique_ptr<Usb::usb_device>> devices;
  std::vector<const ScriptedDevice*> scriptOf;
  // Scripts listed once stay alive for their records.
  std::vector<std::shared_ptr<std::vector<std::vector<ScriptedDevice>>>> listed;
  int inits = 0;
  int opens = 0;
  int closes = 0;
  std::string lastReply = "{}";
  // What came of the configuration file.
  nlohmann::json config;
};

nlohmann::json Run(Library& library, const nlohmann::json& request);

// The library's state, made on its first call and configured from the file beside it.
Library& TheLibrary() {
  static Library* const library = [] {
    auto* made = new Library;
    // No other thread can reach it before it is returned: no lock needed for the requests.
    const Pellux::StandIn::ConfigFile file =
        Pellux::StandIn::ReadConfigFile(reinterpret_cast<const void*>(&TheLibrary));
    made->config = Pellux::StandIn::ApplyConfigFile(
        file, [made](const nlohmann::json& request) { return Run(*made, request); });
    return made;
  }();
  return *library;
}

// Lock held: lists the script as busses and devices.
void List(Library& library) {
  auto script = std::make_shared<std::vector<std::vector<ScriptedDevice>>>(library.script);
  library.listed.push_back(script);
  library.busses.clear();
  library.devices.clear();
  library.scriptOf.clear();
  Usb::usb_bus* previousBus = nullptr;
  for (std::size_t b = 0; b < script->size(); ++b) {
    auto bus = std::make_unique<Usb::usb_bus>();
    std::memset(bus.get(), 0, sizeof(Usb::usb_bus));
    std::snprintf(bus->dirname, sizeof(bus->dirname), "bus-%zu", b);
    bus->location = static_cast<unsigned long>(b);
    bus->prev = previousBus;
    if (previousBus != nullptr) previousBus->next = bus.get();
    Usb::usb_device* previous = nullptr;
    for (std::size_t d = 0; d < (*script)[b].size(); ++d) {
      const ScriptedDevice& scripted = (*script)[b][d];
      auto device = std::make_unique<Usb::usb_device>();
      std::memset(device.get(), 0, sizeof(Usb::usb_device));
      std::snprintf(device->filename, sizeof(device->filename), "\\\\.\\libusb0-%04zu", d);
      device->bus = bus.get();
      device->descriptor.bLength = sizeof(Usb::usb_device_descriptor);
      device->descriptor.bDescriptorType = 1;
      device->descriptor.bcdUSB = 0x0200;
      device->descriptor.idVendor = scripted.vendorId;
      device->descriptor.idProduct = scripted.productId;
      device->descriptor.iManufacturer = 1;
      device->descriptor.iProduct = kProductIndex;
      device->descriptor.iSerialNumber = kSerialIndex;
      device->descriptor.bNumConfigurations = 1;
      device->devnum = static_cast<unsigned char>(d + 1);
      device->prev = previous;
      if (previous != nullptr) previous->next = device.get();
      if (bus->devices == nullptr) bus->devices = device.get();
      previous = device.get();
      library.scriptOf.push_back(&scripted);
      library.devices.push_back(std::move(device));
    }
    previousBus = bus.get();
    library.busses.push_back(std::move(bus));
  }
}

// Lock held.
const ScriptedDevice* ScriptOf(Library& library, const Usb::usb_device* device) {
  for (std::size_t i = 0; i < library.devices.size(); ++i) {
    if (library.devices[i].get() == device) return library.scriptOf[i];
  }
  return nullptr;
}

nlohmann::json Run(Library& library, const nlohmann::json& request) {
  const std::string command = request.value("command", "");
  nlohmann::json reply{{"ok", true}};
  if (command == "bus") {
    library.script.clear();
    for (const auto& bus : request.value("busses", nlohmann::json::array())) {
      std::vector<ScriptedDevice> devices;
      for (const auto& each : bus) {
        ScriptedDevice device;
        device.vendorId = each.value("vid", static_cast<unsigned short>(0));
        device.productId = each.value("pid", static_cast<unsigned short>(0));
        device.product = each.value("product", "");
        device.serial = each.value("serial", "");
        device.openFails = each.value("openFails", false);
        device.stringsFail = each.value("stringsFail", false);
        devices.push_back(device);
      }
      library.script.push_back(devices);
    }
    library.findBussesResult = request.value("findBusses", 1);
    library.findDevicesResult = request.value("findDevices", 1);
  } else if (command == "state") {
    reply["inits"] = library.inits;
    reply["opens"] = library.opens;
    reply["closes"] = library.closes;
    reply["config"] = library.config;
  } else {
    reply["ok"] = false;
    reply["error"] = "unknown command: " + command;
  }
  return reply;
}

}  // namespace

extern "C" {

DWORD WINAPI PelluxStandIn_Control(const char* request, char* reply, DWORD replySize) {
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  std::string text;
  try {
    const nlohmann::json parsed = nlohmann::json::parse(request != nullptr ? request : "{}");
    if (parsed.value("command", "") == "lastReply") {
      return Pellux::StandIn::WriteReply(library.lastReply, reply, replySize);
    }
    text = Run(library, parsed).dump();
  } catch (const std::exception& error) {
    text = nlohmann::json{{"ok", false}, {"error", error.what()}}.dump();
  }
  library.lastReply = text;
  return Pellux::StandIn::WriteReply(text, reply, replySize);
}

void __cdecl usb_init() {
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  ++library.inits;
}

void __cdecl usb_set_debug(int /*level*/) {}

int __cdecl usb_find_busses() {
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  return library.findBussesResult < 0 ? library.findBussesResult
                                      : static_cast<int>(library.script.size());
}

int __cdecl usb_find_devices() {
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  if (library.findDevicesResult < 0) return library.findDevicesResult;
  List(library);
  return static_cast<int>(library.devices.size());
}

Usb::usb_bus* __cdecl usb_get_busses() {
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  return library.busses.empty() ? nullptr : library.busses.front().get();
}

Usb::usb_dev_handle* __cdecl usb_open(Usb::usb_device* device) {
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  const ScriptedDevice* script = ScriptOf(library, device);
  if (script == nullptr || script->openFails) return nullptr;
  ++library.opens;
  // The handle is ours alone; the program never looks inside.
  return reinterpret_cast<Usb::usb_dev_handle*>(new OpenHandle{device, script});
}

int __cdecl usb_close(Usb::usb_dev_handle* handle) {
  if (handle == nullptr) return -22;
  Library& library = TheLibrary();
  std::lock_guard guard(library.mutex);
  ++library.closes;
  delete reinterpret_cast<OpenHandle*>(handle);
  return 0;
}

Usb::usb_device* __cdecl usb_device(Usb::usb_dev_handle* handle) {
  return handle == nullptr ? nullptr : reinterpret_cast<OpenHandle*>(handle)->device;
}

int __cdecl usb_get_string_simple(Usb::usb_dev_handle* handle, int index, char* text,
                                  std::size_t size) {
  if (handle == nullptr || text == nullptr || size == 0) return -22;
  const ScriptedDevice& script = *reinterpret_cast<OpenHandle*>(handle)->script;
  if (script.stringsFail) return -5;
  std::string value;
  if (index == kProductIndex) {
    value = script.product;
  } else if (index == kSerialIndex) {
    value = script.serial;
  } else if (index == 1) {
    value = "Stand-in";
  } else {
    return -22;
  }
  const std::size_t copied = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(text, value.data(), copied);
  text[copied] = '\0';
  return static_cast<int>(copied);
}

int __cdecl usb_claim_interface(Usb::usb_dev_handle* handle, int /*interfaceNumber*/) {
  return handle == nullptr ? -22 : 0;
}

int __cdecl usb_release_interface(Usb::usb_dev_handle* handle, int /*interfaceNumber*/) {
  return handle == nullptr ? -22 : 0;
}

int __cdecl usb_clear_halt(Usb::usb_dev_handle* handle, unsigned int /*endpoint*/) {
  return handle == nullptr ? -22 : 0;
}

int __cdecl usb_reset(Usb::usb_dev_handle* handle) {
  return handle == nullptr ? -22 : 0;
}

int __cdecl usb_set_configuration(Usb::usb_dev_handle* handle, int /*configuration*/) {
  return handle == nullptr ? -22 : 0;
}

// No device on this bus carries data: writes and reads fail as on a device without its
// endpoints.
int __cdecl usb_interrupt_write(Usb::usb_dev_handle* /*handle*/, int /*endpoint*/, char* /*data*/,
                                int /*size*/, int /*timeout*/) {
  return -5;
}

int __cdecl usb_bulk_read(Usb::usb_dev_handle* /*handle*/, int /*endpoint*/, char* /*data*/,
                          int /*size*/, int /*timeout*/) {
  return -5;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&usb_init), Usb::usb_initFunction>);
static_assert(std::is_same_v<decltype(&usb_find_busses), Usb::usb_find_bussesFunction>);
static_assert(std::is_same_v<decltype(&usb_find_devices), Usb::usb_find_devicesFunction>);
static_assert(std::is_same_v<decltype(&usb_get_busses), Usb::usb_get_bussesFunction>);
static_assert(std::is_same_v<decltype(&usb_open), Usb::usb_openFunction>);
static_assert(std::is_same_v<decltype(&usb_close), Usb::usb_closeFunction>);
static_assert(std::is_same_v<decltype(&usb_device), Usb::usb_deviceFunction>);
static_assert(std::is_same_v<decltype(&usb_get_string_simple), Usb::usb_get_string_simpleFunction>);
static_assert(std::is_same_v<decltype(&usb_claim_interface), Usb::usb_claim_interfaceFunction>);
static_assert(std::is_same_v<decltype(&usb_release_interface), Usb::usb_release_interfaceFunction>);
static_assert(std::is_same_v<decltype(&usb_clear_halt), Usb::usb_clear_haltFunction>);
static_assert(std::is_same_v<decltype(&usb_reset), Usb::usb_resetFunction>);
static_assert(std::is_same_v<decltype(&usb_set_configuration), Usb::usb_set_configurationFunction>);
static_assert(std::is_same_v<decltype(&usb_interrupt_write), Usb::usb_interrupt_writeFunction>);
static_assert(std::is_same_v<decltype(&usb_bulk_read), Usb::usb_bulk_readFunction>);
static_assert(std::is_same_v<decltype(&usb_set_debug), Usb::usb_set_debugFunction>);
