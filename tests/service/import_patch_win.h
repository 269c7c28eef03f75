#pragma once

// Points an import of this test program at a function of the test's own for a while, so that a
// test sees the calls the code under test makes (ReportEventA, say) without a seam in the
// product. Only calls through this program's import table are seen, which is every call of the
// statically linked code under test.

#include <windows.h>

#include <cstring>

namespace Pellux {

// Points this program's import of `function` from `library` at `replacement` while it lives.
class ImportPatch {
 public:
  ImportPatch(const char* library, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
      if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), library) != 0) continue;
      auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
      auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        const auto* byName =
            reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
        slot_ = reinterpret_cast<void**>(&addresses->u1.Function);
        original_ = Swap(replacement);
        return;
      }
    }
  }
  ~ImportPatch() {
    if (slot_ != nullptr) Swap(original_);
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  [[nodiscard]] bool Patched() const { return slot_ != nullptr; }

 private:
  void* Swap(void* value) {
    DWORD old = 0;
    VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
    void* previous = *slot_;
    *slot_ = value;
    VirtualProtect(slot_, sizeof(void*), old, &old);
    return previous;
  }

  void** slot_ = nullptr;
  void* original_ = nullptr;
};

}  // namespace Pellux
