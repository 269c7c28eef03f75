#include "ui/local_pipe_security_win.h"

#include <aclapi.h>
#include <sddl.h>

#include "base/system_error.h"

namespace Pellux {

LocalPipeSecurity::LocalPipeSecurity() {
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(kSddl, SDDL_REVISION_1, &descriptor_,
                                                           nullptr) == 0) {
    failure_ = SystemCallFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", kSddl,
                                 LastSystemError());
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

LocalPipeSecurity::~LocalPipeSecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

std::string LocalPipeSecurity::DaclOf(HANDLE object, std::string& failure) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    failure = SystemCallFailure("GetSecurityInfo", "DACL", status);
    return {};
  }
  char* text = nullptr;
  std::string sddl;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr) == 0) {
    failure = SystemCallFailure("ConvertSecurityDescriptorToStringSecurityDescriptorA", "DACL",
                                LastSystemError());
  } else {
    sddl = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return sddl;
}

}  // namespace Pellux
