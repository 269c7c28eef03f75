#include "ui/channel/local_pipe_security_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/system_error.h"

namespace Pellux {

LocalPipeSecurity::LocalPipeSecurity(const std::string& sddl) {
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                           &descriptor_, nullptr) == 0) {
    failure_ = SystemCallFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", sddl,
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

std::string LocalPipeSecurity::ServiceAndUserSddl(std::string& failure) {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
    failure = SystemCallFailure("OpenProcessToken", "", LastSystemError());
    return {};
  }
  std::vector<BYTE> user(256);
  DWORD size = 0;
  BOOL read =
      GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
  if (read == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    user.resize(size);
    read = GetTokenInformation(token, TokenUser, user.data(), size, &size);
  }
  const DWORD code = LastSystemError();
  CloseHandle(token);
  if (read == 0) {
    failure = SystemCallFailure("GetTokenInformation", "TokenUser", code);
    return {};
  }
  char* sid = nullptr;
  if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid) == 0) {
    failure = SystemCallFailure("ConvertSidToStringSidA", "", LastSystemError());
    return {};
  }
  std::string sddl =
      std::string("D:P(D;;GA;;;NU)(D;;GA;;;AN)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;") + sid + ")";
  LocalFree(sid);
  return sddl;
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
