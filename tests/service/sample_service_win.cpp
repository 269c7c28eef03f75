// A small service on the real Service class and the real command line, for the tests of the
// switches under Wine's service manager: it runs until it is asked to stop, accepts the user
// control 128, and notes every control it sees in a file beside it. Its Init fails (with no
// system error code) while a file "<program>.fail-init" is there, and its Run, once stopped,
// while "<program>.fail-run" is.

#include <windows.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "service/service_program_win.h"
#include "service/service_win.h"

namespace Pellux {
namespace {

class SampleService final : public Service {
 public:
  SampleService()
      : Service("PelluxSampleService", "Pellux Sample Service", "A service for the tests.") {}
  ~SampleService() override {
    if (stop_ != nullptr) CloseHandle(stop_);
  }

 protected:
  bool Init() override {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Note("init");
    const bool fails = Marked(".fail-init");
    SetLastError(NO_ERROR);
    return stop_ != nullptr && !fails;
  }
  bool Run() override {
    Note("run");
    WaitForSingleObject(stop_, INFINITE);
    Note("run ends");
    const bool fails = Marked(".fail-run");
    SetLastError(NO_ERROR);
    return !fails;
  }
  void OnStop() override {
    Note("stop");
    SetEvent(stop_);
  }
  void OnPause() override { Note("pause"); }
  void OnShutdown() override { Note("shutdown"); }
  bool OnUserControl(DWORD code) override {
    Note("user " + std::to_string(code));
    return code == 128;
  }

 private:
  static std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
  }
  static bool Marked(const char* suffix) {
    return GetFileAttributesA((ProgramPath() + suffix).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  static void Note(const std::string& what) {
    std::ofstream(ProgramPath() + ".notes", std::ios::app) << what << "\n";
  }
  HANDLE stop_ = nullptr;
};

}  // namespace
}  // namespace Pellux

int main(int argc, char** argv) {
  Pellux::SampleService service;
  return Pellux::RunServiceProgram(service, std::vector<std::string>(argv, argv + argc), std::cout,
                                   std::cerr);
}
