// The stand-in resources library holds string resources; its code only tells whether it ran:
// a module loaded as code runs its entry point, one mapped as an image resource never does.

#include <windows.h>

extern "C" __declspec(dllexport) int PelluxTestResourcesVersion() {
  return 1;
}

// Marks the process that ran this library's code, where the test can see it.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableA("PELLUX_RESOURCES_CODE_RAN", "1");
  return TRUE;
}
