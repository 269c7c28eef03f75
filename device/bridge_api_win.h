#pragma once

// The interfaces of the three USB serial bridge libraries as the program calls them:
// the Silicon Labs USBXpress library, the CP210x manufacturing library and libusb-win32. Only
// the calls, types and codes the program relies on. The stand-in libraries of sim/ are built
// against the same declarations.

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace Pellux {

// --- DSI_SiUSBXp_3_1.DLL (stdcall) ---
namespace SiApi {

using Status = int;
inline constexpr Status kSuccess = 0x00;
inline constexpr Status kInvalidHandle = 0x01;
inline constexpr Status kReadError = 0x02;
inline constexpr Status kRxQueueNotReady = 0x03;
inline constexpr Status kWriteError = 0x04;
inline constexpr Status kInvalidParameter = 0x06;
inline constexpr Status kDeviceIoFailed = 0x08;
inline constexpr Status kReadTimedOut = 0x0D;
inline constexpr Status kIoPending = 0x0F;
inline constexpr Status kDeviceNotFound = 0xFF;

// What SI_GetProductString returns.
inline constexpr DWORD kReturnSerialNumber = 0;
inline constexpr DWORD kReturnDescription = 1;
inline constexpr DWORD kReturnVid = 3;
inline constexpr DWORD kReturnPid = 4;
// The size of every text SI_GetProductString may write.
inline constexpr std::size_t kMaxDeviceStrlen = 256;

// 8 data bits, no parity, 1 stop bit.
inline constexpr WORD kLineControl8N1 = 0x0800;

using SI_OpenFunction = Status(WINAPI*)(DWORD deviceNumber, HANDLE* handle);
using SI_GetNumDevicesFunction = Status(WINAPI*)(LPDWORD count);
using SI_CloseFunction = Status(WINAPI*)(HANDLE handle);
using SI_ReadFunction = Status(WINAPI*)(HANDLE handle, LPVOID buffer, DWORD toRead,
                                        LPDWORD bytesRead, OVERLAPPED* overlapped);
using SI_WriteFunction = Status(WINAPI*)(HANDLE handle, LPVOID data, DWORD toWrite,
                                         LPDWORD bytesWritten, OVERLAPPED* overlapped);
using SI_SetTimeoutsFunction = Status(WINAPI*)(DWORD readTimeout, DWORD writeTimeout);
using SI_GetTimeoutsFunction = Status(WINAPI*)(LPDWORD readTimeout, LPDWORD writeTimeout);
using SI_SetBaudRateFunction = Status(WINAPI*)(HANDLE handle, DWORD baud);
using SI_SetLineControlFunction = Status(WINAPI*)(HANDLE handle, WORD lineControl);
using SI_SetFlowControlFunction = Status(WINAPI*)(HANDLE handle, BYTE cts, BYTE rts, BYTE dtr,
                                                  BYTE dsr, BYTE dcd, BOOL xonXoff);
using SI_FlushBuffersFunction = Status(WINAPI*)(HANDLE handle, BYTE transmit, BYTE receive);
using SI_CheckRXQueueFunction = Status(WINAPI*)(HANDLE handle, LPDWORD bytesInQueue,
                                                LPDWORD queueStatus);
using SI_GetProductStringFunction = Status(WINAPI*)(DWORD deviceNumber, LPVOID text, DWORD option);

}  // namespace SiApi

// --- DSI_CP210xManufacturing_3_1.dll (stdcall); the handle is the one SI_Open gave ---
namespace CpApi {

using Status = int;
inline constexpr Status kSuccess = 0x00;
inline constexpr Status kInvalidHandle = 0x01;
inline constexpr Status kInvalidParameter = 0x02;
inline constexpr Status kDeviceIoFailed = 0x03;
inline constexpr Status kDeviceNotFound = 0xFF;

using CP210x_GetDeviceProductStringFunction = Status(WINAPI*)(HANDLE handle, LPVOID text,
                                                              LPBYTE length, BOOL asText);
using CP210x_GetDeviceSerialNumberFunction = Status(WINAPI*)(HANDLE handle, LPVOID text,
                                                             LPBYTE length, BOOL asText);
using CP210x_GetDeviceVidFunction = Status(WINAPI*)(HANDLE handle, LPWORD vendorId);
using CP210x_GetDevicePidFunction = Status(WINAPI*)(HANDLE handle, LPWORD productId);
using CP210x_ResetFunction = Status(WINAPI*)(HANDLE handle);

}  // namespace CpApi

// --- libusb0.dll (libusb-win32 0.1, cdecl as the real library) ---
namespace UsbApi {

inline constexpr std::size_t kPathMax = 512;

struct usb_device_descriptor {
  unsigned char bLength;
  unsigned char bDescriptorType;
  unsigned short bcdUSB;
  unsigned char bDeviceClass;
  unsigned char bDeviceSubClass;
  unsigned char bDeviceProtocol;
  unsigned char bMaxPacketSize0;
  unsigned short idVendor;
  unsigned short idProduct;
  unsigned short bcdDevice;
  unsigned char iManufacturer;
  unsigned char iProduct;
  unsigned char iSerialNumber;
  unsigned char bNumConfigurations;
};
static_assert(sizeof(usb_device_descriptor) == 18);

struct usb_config_descriptor;
struct usb_bus;

struct usb_device {
  usb_device* next;
  usb_device* prev;
  char filename[kPathMax];
  usb_bus* bus;
  usb_device_descriptor descriptor;
  usb_config_descriptor* config;
  void* dev;
  unsigned char devnum;
  unsigned char num_children;
  usb_device** children;
};

struct usb_bus {
  usb_bus* next;
  usb_bus* prev;
  char dirname[kPathMax];
  usb_device* devices;
  unsigned long location;
  usb_device* root_dev;
};

struct usb_dev_handle;

using usb_claim_interfaceFunction = int(__cdecl*)(usb_dev_handle* handle, int interfaceNumber);
using usb_get_bussesFunction = usb_bus*(__cdecl*)();
using usb_clear_haltFunction = int(__cdecl*)(usb_dev_handle* handle, unsigned int endpoint);
using usb_get_string_simpleFunction = int(__cdecl*)(usb_dev_handle* handle, int index, char* text,
                                                    std::size_t size);
using usb_closeFunction = int(__cdecl*)(usb_dev_handle* handle);
using usb_resetFunction = int(__cdecl*)(usb_dev_handle* handle);
using usb_initFunction = void(__cdecl*)();
using usb_find_bussesFunction = int(__cdecl*)();
using usb_find_devicesFunction = int(__cdecl*)();
using usb_openFunction = usb_dev_handle*(__cdecl*)(usb_device* device);
using usb_release_interfaceFunction = int(__cdecl*)(usb_dev_handle* handle, int interfaceNumber);
using usb_interrupt_writeFunction = int(__cdecl*)(usb_dev_handle* handle, int endpoint, char* data,
                                                  int size, int timeout);
using usb_bulk_readFunction = int(__cdecl*)(usb_dev_handle* handle, int endpoint, char* data,
                                            int size, int timeout);
using usb_deviceFunction = usb_device*(__cdecl*)(usb_dev_handle* handle);
using usb_set_configurationFunction = int(__cdecl*)(usb_dev_handle* handle, int configuration);
using usb_set_debugFunction = void(__cdecl*)(int level);

}  // namespace UsbApi

}  // namespace Pellux
