// A planted library: what someone who may write a program's folder would put there. Loaded, it
// leaves a file "planted-ran" in its own folder; the functions of version.dll it offers fail.
// It needs nothing but kernel32.

#include <windows.h>

#include <cstring>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 16] = {};
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  char* slash = std::strrchr(path, '\\');
  if (length == 0 || slash == nullptr) return TRUE;
  std::strcpy(slash + 1, "planted-ran");
  const HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    GetFileVersionInfoA(LPCSTR /*file*/, DWORD /*handle*/, DWORD /*size*/, LPVOID /*data*/) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

extern "C" __declspec(dllexport) DWORD WINAPI
    GetFileVersionInfoSizeA(LPCSTR /*file*/, LPDWORD /*handle*/) {
  SetLastError(ERROR_ACCESS_DENIED);
  return 0;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    VerQueryValueA(LPCVOID /*block*/, LPCSTR /*path*/, LPVOID* /*value*/, PUINT /*length*/) {
  return FALSE;
}
