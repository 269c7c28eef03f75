// DSI_CP210xManufacturing_3_1.dll for tests: the five calls the program makes, answered about
// the handles of the stand-in DSI_SiUSBXp_3_1.DLL loaded in the same process (asked through
// its control export). Never installed.

#include <windows.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>

#include "device/bridge_api_win.h"
#include "device/usb_text_rules.h"
#include "sim/stand_in/stand_in_control.h"

namespace Cp = Pellux::CpApi;

namespace {

// Asks the bridge stand-in about `handle`; an empty object when it is not loaded.
nlohmann::json AskBridge(const char* command, HANDLE handle) {
  const HMODULE bridge = GetModuleHandleW(L"DSI_SiUSBXp_3_1.DLL");
  if (bridge == nullptr) return nlohmann::json::object();
  const FARPROC address = GetProcAddress(bridge, Pellux::StandIn::kControlExport);
  if (address == nullptr) return nlohmann::json::object();
  const auto control =
      reinterpret_cast<Pellux::StandIn::ControlFunction>(reinterpret_cast<void*>(address));
  const nlohmann::json request{{"command", command},
                               {"handle", reinterpret_cast<std::uintptr_t>(handle)}};
  try {
    return nlohmann::json::parse(Pellux::StandIn::CallControl(control, request.dump()));
  } catch (const std::exception&) {
    return nlohmann::json::object();
  }
}

// The status of a call about `handle`: invalid, gone, or there (with its description).
Cp::Status Describe(const char* command, HANDLE handle, nlohmann::json& info) {
  info = AskBridge(command, handle);
  if (!info.value("valid", false)) return Cp::kInvalidHandle;
  if (!info.value("plugged", false)) return Cp::kDeviceIoFailed;
  return Cp::kSuccess;
}

Cp::Status CopyText(const std::string& text, LPVOID out, LPBYTE length) {
  if (out == nullptr || length == nullptr) return Cp::kInvalidParameter;
  const std::size_t size = text.size() < *length ? text.size() : *length;
  std::memcpy(out, text.data(), size);
  if (size < *length) static_cast<char*>(out)[size] = '\0';
  *length = static_cast<BYTE>(size);
  return Cp::kSuccess;
}

}  // namespace

extern "C" {

Cp::Status WINAPI CP210x_GetDeviceProductString(HANDLE handle, LPVOID text, LPBYTE length,
                                                BOOL /*asText*/) {
  nlohmann::json info;
  const Cp::Status status = Describe("handleInfo", handle, info);
  if (status != Cp::kSuccess) return status;
  return CopyText(info.value("product", ""), text, length);
}

// The liveness probe: only a device that is still there can answer.
Cp::Status WINAPI CP210x_GetDeviceSerialNumber(HANDLE handle, LPVOID text, LPBYTE length,
                                               BOOL /*asText*/) {
  nlohmann::json info;
  const Cp::Status status = Describe("probe", handle, info);
  if (status != Cp::kSuccess) return status;
  return CopyText(info.value("serial", ""), text, length);
}

Cp::Status WINAPI CP210x_GetDeviceVid(HANDLE handle, LPWORD vendorId) {
  if (vendorId == nullptr) return Cp::kInvalidParameter;
  nlohmann::json info;
  const Cp::Status status = Describe("handleInfo", handle, info);
  if (status != Cp::kSuccess) return status;
  *vendorId = Pellux::ParseHexId(info.value("vid", ""));
  return Cp::kSuccess;
}

Cp::Status WINAPI CP210x_GetDevicePid(HANDLE handle, LPWORD productId) {
  if (productId == nullptr) return Cp::kInvalidParameter;
  nlohmann::json info;
  const Cp::Status status = Describe("handleInfo", handle, info);
  if (status != Cp::kSuccess) return status;
  *productId = Pellux::ParseHexId(info.value("pid", ""));
  return Cp::kSuccess;
}

Cp::Status WINAPI CP210x_Reset(HANDLE handle) {
  nlohmann::json info;
  return Describe("cpReset", handle, info);
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CP210x_GetDeviceProductString),
                             Cp::CP210x_GetDeviceProductStringFunction>);
static_assert(std::is_same_v<decltype(&CP210x_GetDeviceSerialNumber),
                             Cp::CP210x_GetDeviceSerialNumberFunction>);
static_assert(std::is_same_v<decltype(&CP210x_GetDeviceVid), Cp::CP210x_GetDeviceVidFunction>);
static_assert(std::is_same_v<decltype(&CP210x_GetDevicePid), Cp::CP210x_GetDevicePidFunction>);
static_assert(std::is_same_v<decltype(&CP210x_Reset), Cp::CP210x_ResetFunction>);
