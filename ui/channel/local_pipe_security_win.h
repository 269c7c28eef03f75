#pragma once

#include <windows.h>

#include <string>

namespace Pellux {

// The security descriptor of the pipes this system listens on: local users only. The access
// list denies the network logon and anonymous users anything, lets every authenticated user
// read and write, and gives LocalSystem and the administrators full access; it is protected, so
// nothing is inherited. Together with PIPE_REJECT_REMOTE_CLIENTS no other machine reaches the
// pipe.
class LocalPipeSecurity {
 public:
  // The access list in SDDL.
  static constexpr const char* kSddl =
      "D:P(D;;GA;;;NU)(D;;GA;;;AN)(A;;GRGW;;;AU)(A;;GA;;;SY)(A;;GA;;;BA)";

  // Builds the descriptor from `sddl`; when that fails, Attributes() is null and `Failure()`
  // says why.
  explicit LocalPipeSecurity(const std::string& sddl = kSddl);
  LocalPipeSecurity(const LocalPipeSecurity&) = delete;
  LocalPipeSecurity& operator=(const LocalPipeSecurity&) = delete;
  ~LocalPipeSecurity();

  // For CreateNamedPipeA: the descriptor, handles not inherited. Null when it could not be made.
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }
  // The failing call with the system's code and text; empty when the descriptor was made.
  [[nodiscard]] const std::string& Failure() const { return failure_; }

  // An access list for a UI's own reply pipe: only LocalSystem (the service), the
  // administrators and the user running this process may use it; empty, with `failure` set,
  // when this process's user cannot be read.
  static std::string ServiceAndUserSddl(std::string& failure);

  // The access list of an open object as SDDL ("D:..."), read back from the system; empty,
  // with `failure` set, when it cannot be read.
  static std::string DaclOf(HANDLE object, std::string& failure);

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
  std::string failure_;
};

}  // namespace Pellux
