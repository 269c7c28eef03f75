// The folder access probe of Windows: the folder's owner and access list.

#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>

#include "base/system_error.h"
#include "base/wide_text_win.h"
#include "tools/pelluxctl/doctor/folder_access_probe.h"

namespace Pellux {
namespace {

constexpr const char* kEveryone = "S-1-1-0";

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (sid == nullptr || ConvertSidToStringSidA(sid, &text) == 0) return "?";
  std::string copy = text;
  LocalFree(text);
  return copy;
}

class WindowsFolderAccessProbe final : public FolderAccessProbe {
 public:
  FolderAccess Read(const std::string& path) override {
    FolderAccess access;
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring wide = WideFromUtf8(path);
    const DWORD code = GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                             &owner, nullptr, &list, nullptr, &descriptor);
    if (code != ERROR_SUCCESS) {
      access.state = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                         ? FolderAccess::State::kMissing
                         : FolderAccess::State::kFailed;
      access.error = SystemCallFailure("GetNamedSecurityInfoW", path, code);
      return access;
    }
    access.state = FolderAccess::State::kRead;
    access.owner = SidText(owner);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(descriptor, &control, &revision) != 0) {
      access.isProtected = (control & SE_DACL_PROTECTED) != 0;
    }
    if (list == nullptr) {
      // No list at all lets everyone do everything.
      access.entries.push_back({kEveryone, GENERIC_ALL, true, false});
    } else {
      for (DWORD index = 0; index < list->AceCount; ++index) {
        void* entry = nullptr;
        if (GetAce(list, index, &entry) == 0) continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE &&
            header->AceType != ACCESS_DENIED_ACE_TYPE) {
          continue;
        }
        // Allowed and denied entries have the same layout.
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        access.entries.push_back({SidText(&allowed->SidStart), allowed->Mask,
                                  header->AceType == ACCESS_ALLOWED_ACE_TYPE,
                                  (header->AceFlags & INHERITED_ACE) != 0});
      }
    }
    LocalFree(descriptor);
    return access;
  }
};

}  // namespace

std::unique_ptr<FolderAccessProbe> FolderAccessProbe::CreateForPlatform() {
  return std::make_unique<WindowsFolderAccessProbe>();
}

}  // namespace Pellux
