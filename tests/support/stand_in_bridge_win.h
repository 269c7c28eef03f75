#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>

#include "device/library_path_win.h"
#include "sim/stand_in/stand_in_control.h"

namespace Pellux {

// The test's hold on the stand-in bridge libraries beside the test program (sim/stand_in):
// loads them by full path (as the product's loaders do, so both share one module) and talks to
// their control exports. Everything is reset when made, so each test starts with no device.
class StandInBridge {
 public:
  using json = nlohmann::json;

  StandInBridge()
      : silabs_(Load(L"DSI_SiUSBXp_3_1.DLL")),
        manufacturing_(Load(L"DSI_CP210xManufacturing_3_1.dll")),
        libusb_(Load(L"libusb0.dll")),
        silabsControl_(Control(silabs_)),
        libusbControl_(Control(libusb_)) {
    Reset();
  }
  StandInBridge(const StandInBridge&) = delete;
  StandInBridge& operator=(const StandInBridge&) = delete;
  ~StandInBridge() {
    Reset();
    FreeLibrary(libusb_);
    FreeLibrary(manufacturing_);
    FreeLibrary(silabs_);
  }

  // One command to DSI_SiUSBXp_3_1.DLL; throws when it says no.
  json Si(const json& request) { return Call(silabsControl_, request); }
  // One command to libusb0.dll; throws when it says no.
  json Usb(const json& request) { return Call(libusbControl_, request); }

  void Reset() {
    Si({{"command", "reset"}});
    Usb({{"command", "bus"}, {"busses", json::array()}});
  }
  // Attaches a bridge device (an "ANT USB Stick" 10C4:84C4 with serial 4021337 unless
  // `options` say otherwise) and returns its index among the attached devices.
  int Attach(json options = json::object()) {
    options["command"] = "attach";
    return Si(options)["device"].get<int>();
  }
  json Device(int index) { return Si({{"command", "state"}})["devices"][index]; }
  std::vector<std::string> Calls() {
    return Si({{"command", "state"}})["calls"].get<std::vector<std::string>>();
  }
  void ClearCalls() { Si({{"command", "clearCalls"}}); }

  // Polls `done` every 10 ms until it holds or `limit` has passed.
  static bool WaitFor(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  static HMODULE Load(const wchar_t* name) {
    const HMODULE module = LoadLibraryByFullPath(ProgramFolder() + name);
    if (module == nullptr) throw std::runtime_error("a stand-in library is not beside the test");
    return module;
  }
  static StandIn::ControlFunction Control(HMODULE module) {
    StandIn::ControlFunction control = nullptr;
    if (!BindExport(module, StandIn::kControlExport, control)) {
      throw std::runtime_error("a stand-in library has no control export");
    }
    return control;
  }
  static json Call(StandIn::ControlFunction control, const json& request) {
    json reply = json::parse(StandIn::CallControl(control, request.dump()));
    if (!reply.value("ok", false)) {
      throw std::runtime_error("stand-in: " + request.dump() + " -> " + reply.dump());
    }
    return reply;
  }

  HMODULE silabs_;
  HMODULE manufacturing_;
  HMODULE libusb_;
  StandIn::ControlFunction silabsControl_;
  StandIn::ControlFunction libusbControl_;
};

}  // namespace Pellux
