#include "tools/pelluxctl/doctor/doctor_check.h"

#include <utility>

namespace Pellux {

const char* DoctorStatusName(DoctorStatus status) {
  switch (status) {
    case DoctorStatus::kOk:
      return "OK";
    case DoctorStatus::kWarn:
      return "WARN";
    case DoctorStatus::kFail:
      return "FAIL";
  }
  return "FAIL";
}

DoctorCheck DoctorCheck::Ok(std::string name, std::string found) {
  return {std::move(name), DoctorStatus::kOk, std::move(found), {}};
}

DoctorCheck DoctorCheck::Warn(std::string name, std::string found, std::string fix) {
  return {std::move(name), DoctorStatus::kWarn, std::move(found), std::move(fix)};
}

DoctorCheck DoctorCheck::Fail(std::string name, std::string found, std::string fix) {
  return {std::move(name), DoctorStatus::kFail, std::move(found), std::move(fix)};
}

}  // namespace Pellux
