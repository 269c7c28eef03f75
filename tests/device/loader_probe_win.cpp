// A child program for the loader tests (bridge_library_win_test.cpp): copied into a folder of
// its own with the libraries a scenario wants beside it, started with a chosen current
// directory and PATH, it reports what the loaders found, one "key=value" line each, into the
// file named by its argument.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "device/cm_library_win.h"
#include "device/dsi_serial_si_win.h"
#include "device/library_path_win.h"
#include "device/libusb_library_win.h"
#include "device/silabs_library_win.h"
#include "device/usb_device_win.h"
#include "sim/stand_in/stand_in_control.h"

namespace {

using Pellux::StandIn::ControlFunction;

// Scripts a stand-in beside this program, when there is one.
void Script(const wchar_t* name, const nlohmann::json& request) {
  const HMODULE module = Pellux::LoadLibraryByFullPath(Pellux::ProgramFolder() + name);
  if (module == nullptr) return;
  ControlFunction control = nullptr;
  if (Pellux::BindExport(module, Pellux::StandIn::kControlExport, control)) {
    Pellux::StandIn::CallControl(control, request.dump());
  }
  // Left loaded: the loaders under test share this module, as a program shares its libraries.
}

std::string Hex(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04X", value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ofstream report(argv[1]);

  using nlohmann::json;
  const json stick = {
      {"vid", 0x0FCF}, {"pid", 0x1004}, {"product", "ANT USB-m"}, {"serial", "123"}};
  const json bridge = {{"vid", 0x10C4}, {"pid", 0xEA60}, {"product", "CP2102"}, {"serial", "9"}};
  const json nordic = {{"vid", 0x1915}, {"pid", 0x0101}, {"product", "nRF"}, {"serial", "77"}};
  json script = {{"command", "bus"}};
  script["busses"] = json::array({json::array({stick, bridge}), json::array({nordic})});
  Script(L"libusb0.dll", script);
  Script(L"DSI_SiUSBXp_3_1.DLL", {{"command", "attach"}, {"product", "ANT USB Stick"}});

  Pellux::SiLabsError::Enum silabs{};
  Pellux::CMError::Enum manufacturing{};
  Pellux::LibusbError::Enum libusb{};
  report << "silabs=" << (Pellux::SiLabsLibrary::Create(&silabs) ? 0 : silabs) << "\n";
  report << "cm=" << (Pellux::CMLibrary::Create(&manufacturing) ? 0 : manufacturing) << "\n";
  report << "libusb=" << (Pellux::LibusbLibrary::Create(&libusb) ? 0 : libusb) << "\n";
  report << "bridge_devices=" << Pellux::GetSIDeviceList().GetSize() << "\n";
  report << "libusb_devices=" << Pellux::GetLibusbDeviceList().GetSize() << "\n";
  const Pellux::USBDeviceList<Pellux::USBDevice> all = Pellux::GetAllDevices();
  report << "candidates=";
  for (std::size_t i = 0; i < all.GetSize(); ++i) {
    report << (i > 0 ? "," : "") << Hex(all[i].GetVid()) << ":" << Hex(all[i].GetPid()) << "/"
           << static_cast<int>(all[i].GetDeviceType());
  }
  report << "\n";

  std::string restarted = "none";
  Pellux::DSISerialSI serial(Pellux::SystemClock::Instance(),
                             [&restarted](const std::string& pattern) { restarted = pattern; });
  report << "autoinit=" << (serial.AutoInit() ? 1 : 0) << "\n";
  report << "restart=" << restarted << "\n";

  // The control: a bare name does find a library planted in the current directory or on PATH.
  const HMODULE bare = LoadLibraryW(L"DSI_SiUSBXp_3_1.DLL");
  report << "bare_load=" << (bare != nullptr ? 1 : 0) << "\n";
  // And with that copy in memory, the loader still takes only the program's folder.
  report << "silabs_after_bare=" << (Pellux::SiLabsLibrary::Create(&silabs) ? 0 : silabs) << "\n";
  report << "end=1\n";
  return 0;
}
