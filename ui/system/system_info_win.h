#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "ui/system/problem_reporter.h"
#include "ui/system/system_info.h"

namespace Pellux {

// Reads this machine's version record (the extended form, else the basic one) and its native
// processor architecture; failures go to `report`.
SystemRecords ReadSystemRecords(const ProblemReporter& report);

// Answers the detection's questions from this machine: its metrics, GetProductInfo, and the
// registry values below `root` (HKEY_LOCAL_MACHINE in the service; a test's own key in tests).
class WinSystemQueries final : public SystemQueries {
 public:
  // `root` must stay open while this object is used.
  WinSystemQueries(HKEY root, ProblemReporter report);

  int ServerR2Metric() override;
  std::optional<std::string> ProductOptionsType() override;
  bool HotfixQ246009Present() override;
  std::optional<std::uint32_t> ProductInfo(std::uint32_t major, std::uint32_t minor,
                                           std::uint32_t servicePackMajor,
                                           std::uint32_t servicePackMinor) override;

 private:
  HKEY root_;
  ProblemReporter report_;
};

}  // namespace Pellux
