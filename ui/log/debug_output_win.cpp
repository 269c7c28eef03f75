#include <windows.h>

#include <memory>
#include <string>

#include "ui/log/debug_output.h"

namespace Pellux {
namespace {

// Lines to the debugger output (OutputDebugStringA), where a debugger or DebugView reads them.
// The system serialises the calls, so lines of different threads stay whole.
class DebuggerOutput final : public DebugOutput {
 public:
  void Write(const std::string& text, int /*level*/, Context /*context*/) override {
    const std::string line = text + "\n";
    OutputDebugStringA(line.c_str());
  }
};

}  // namespace

std::unique_ptr<DebugOutput> DebugOutput::CreateForPlatform() {
  return std::make_unique<DebuggerOutput>();
}

}  // namespace Pellux
