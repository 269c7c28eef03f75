#pragma once

#include <string>

namespace Pellux {

// What one check of `pelluxctl doctor` found: OK, a warning that leaves the uploader working
// (WARN), or a fault that keeps it from working (FAIL). Plain data, any thread.
enum class DoctorStatus { kOk, kWarn, kFail };

// "OK", "WARN" or "FAIL".
const char* DoctorStatusName(DoctorStatus status);

struct DoctorCheck {
  // A short name of what was looked at ("service", "base station tty").
  std::string name;
  DoctorStatus status = DoctorStatus::kFail;
  // What was found, in one sentence.
  std::string found;
  // For WARN and FAIL: the command or change that mends it; empty for OK.
  std::string fix;

  static DoctorCheck Ok(std::string name, std::string found);
  static DoctorCheck Warn(std::string name, std::string found, std::string fix);
  static DoctorCheck Fail(std::string name, std::string found, std::string fix);

  bool operator==(const DoctorCheck&) const = default;
};

}  // namespace Pellux
