// pelluxctl on Windows: what only the named pipe channel has (its default names, the reply
// pipes it refuses).

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {
namespace {

std::string PipeName(const std::string& tag) {
  return "\\\\.\\pipe\\pelluxctl-test-" + tag + "-" + std::to_string(GetCurrentProcessId());
}

TEST(PelluxctlWinConnection, DefaultsAndNamesItRefuses) {
  EXPECT_EQ(UiConnection::DefaultServiceName(), "\\\\.\\pipe\\PelluxService");
  EXPECT_EQ(UiConnection::DefaultReplyName(),
            "\\\\.\\pipe\\pellux-ui-" + std::to_string(GetCurrentProcessId()));
  std::string error;
  EXPECT_EQ(UiConnection::Open("\\\\.\\pipe\\PelluxService", "\\\\host\\pipe\\x", error), nullptr);
  EXPECT_EQ(error, "the reply pipe must be \\\\.\\pipe\\ and a name without separators");
  // A reply pipe someone already listens on is not shared.
  const std::string taken = PipeName("taken");
  auto first = UiConnection::Open("\\\\.\\pipe\\PelluxService", taken, error);
  ASSERT_NE(first, nullptr) << error;
  error.clear();
  EXPECT_EQ(UiConnection::Open("\\\\.\\pipe\\PelluxService", taken, error), nullptr);
  EXPECT_EQ(error.rfind("UI: Cannot listen for UI messages: CreateNamedPipeA(" + taken + ")", 0),
            0u)
      << error;
}

}  // namespace
}  // namespace Pellux
