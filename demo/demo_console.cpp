#include "demo/demo_console.h"

#include <boost/format.hpp>

namespace Pellux {

void DemoConsole::Write(const std::string& text, int level, Context /*context*/) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start_);
  std::lock_guard guard(mutex_);
  out_ << boost::format("%8.3f  %d %s\n") % (static_cast<double>(elapsed.count()) / 1000.0) %
              level % text;
  out_.flush();
}

}  // namespace Pellux
