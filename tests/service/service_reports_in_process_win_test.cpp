// The reports of the Service class caught in this process: its calls of RegisterEventSourceA
// and ReportEventA go through this program's import table, which the test points at its own
// functions for a while. Wine's RegisterEventSourceA never fails; here the source can be made
// to fail, and then nothing is reported.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "service/service_win.h"

namespace Pellux {
namespace {

constexpr const char* kName = "PelluxReportProbe";

struct Caught {
  WORD type;
  WORD category;
  DWORD id;
  std::vector<std::string> strings;
  bool withData;
  bool operator==(const Caught&) const = default;
};

// What the replacements see. The test's thread only: Install and Uninstall report on it.
HANDLE g_source = nullptr;
std::vector<std::string> g_registered;
std::vector<Caught> g_caught;

HANDLE WINAPI FakeRegisterEventSourceA(LPCSTR server, LPCSTR source) {
  g_registered.push_back(std::string(server == nullptr ? "(local)" : server) + "/" + source);
  return g_source;
}

BOOL WINAPI FakeReportEventA(HANDLE log, WORD type, WORD category, DWORD id, PSID /*user*/,
                             WORD count, DWORD dataSize, LPCSTR* strings, LPVOID data) {
  if (log != g_source || log == nullptr) ADD_FAILURE() << "reported on another handle";
  Caught caught{type, category, id, {}, dataSize != 0 || data != nullptr};
  for (WORD i = 0; i < count; ++i) caught.strings.emplace_back(strings[i]);
  g_caught.push_back(caught);
  return TRUE;
}

BOOL WINAPI FakeDeregisterEventSource(HANDLE log) {
  if (log != g_source) ADD_FAILURE() << "deregistered another handle";
  return TRUE;
}

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

TEST(ServiceReportsInProcess, InstallAndUninstallReportOnlyWithARegisteredSource) {
  struct Row {
    const char* what;
    HANDLE source;
    std::vector<Caught> expected;
  };
  const Row rows[] = {
      {"registered",
       reinterpret_cast<HANDLE>(0x5150),
       {{EVENTLOG_INFORMATION_TYPE, 0, 100, {kName}, false},
        {EVENTLOG_INFORMATION_TYPE, 0, 101, {kName}, false}}},
      {"not registered", nullptr, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    g_source = row.source;
    g_registered.clear();
    g_caught.clear();
    {
      const ImportPatch registering("advapi32.dll", "RegisterEventSourceA",
                                    reinterpret_cast<void*>(&FakeRegisterEventSourceA));
      const ImportPatch reporting("advapi32.dll", "ReportEventA",
                                  reinterpret_cast<void*>(&FakeReportEventA));
      const ImportPatch deregistering("advapi32.dll", "DeregisterEventSource",
                                      reinterpret_cast<void*>(&FakeDeregisterEventSource));
      ASSERT_TRUE(registering.Patched());
      ASSERT_TRUE(reporting.Patched());
      ASSERT_TRUE(deregistering.Patched());
      {
        Service service(kName, "Pellux Report Probe", "");
        ASSERT_TRUE(service.Install());
        EXPECT_TRUE(service.Uninstall());
        // A second uninstall finds no service: refused before any report.
        EXPECT_FALSE(service.Uninstall());
      }
    }
    EXPECT_EQ(g_registered, std::vector<std::string>{std::string("(local)/") + kName});
    EXPECT_EQ(g_caught, row.expected);
  }
}

}  // namespace
}  // namespace Pellux
