#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/reported_lines.h"
#include "ui/settings/registry_settings_store_win.h"

namespace Pellux {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::Optional;

std::string RandomSuffix() {
  std::random_device random;
  std::ostringstream text;
  text << std::hex << random() << random();
  return text.str();
}

// A value as the registry holds it, read and written past the store, as an installer, an
// administrator or another program would.
struct RawValue {
  DWORD type = REG_NONE;
  std::string bytes;
  bool operator==(const RawValue&) const = default;
};

void PrintTo(const RawValue& value, std::ostream* out) {
  *out << "type " << value.type << ", " << value.bytes.size() << " bytes";
}

std::optional<RawValue> GetRaw(HKEY root, const std::string& keyPath, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  RawValue value;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.bytes.resize(size);
    status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                              reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    value.bytes.resize(size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

bool KeyExists(HKEY root, const std::string& keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string Dword(std::uint32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

// Every test works below a key of its own under HKEY_CURRENT_USER, deleted afterwards.
class RegistrySettingsStoreTest : public ::testing::Test {
 protected:
  ~RegistrySettingsStoreTest() override { RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }

  std::string SectionKey(const std::string& section) const { return base_ + "\\" + section; }
  std::string ValuePath(const std::string& section, const std::string& name) const {
    return "HKEY_CURRENT_USER\\" + SectionKey(section) + "\\" + name;
  }

  void PutRaw(const std::string& section, const std::string& name, DWORD type,
              const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SectionKey(section).c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const LONG status =
        RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
  }
  std::optional<RawValue> GetRaw(const std::string& section, const std::string& name) const {
    return Pellux::GetRaw(HKEY_CURRENT_USER, SectionKey(section), name);
  }

  const std::string base_ = "Software\\PelluxTest-" + RandomSuffix();
  ReportedLines reported_;
  RegistrySettingsStore store_{reported_.Reporter(), HKEY_CURRENT_USER, base_};
};

// --- Values written come back as they were, stored with the registry's own types.

TEST_F(RegistrySettingsStoreTest, NumbersRoundTripOverTheWholeDwordRangeAsRegDword) {
  const std::vector<std::uint32_t> numbers = {0, 1, 8001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    ASSERT_TRUE(store_.WriteNumber("Tracker", "N" + std::to_string(i), numbers[i]));
  }
  RegistrySettingsStore other(reported_.Reporter(), HKEY_CURRENT_USER, base_);
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const std::string name = "N" + std::to_string(i);
    SCOPED_TRACE(name);
    EXPECT_THAT(store_.ReadNumber("Tracker", name), Optional(numbers[i]));
    EXPECT_THAT(other.ReadNumber("Tracker", name), Optional(numbers[i]));
    EXPECT_THAT(GetRaw("Tracker", name), Optional(RawValue{REG_DWORD, Dword(numbers[i])}));
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(RegistrySettingsStoreTest, TextsRoundTripByteForByteAsNulTerminatedRegSz) {
  const std::vector<std::string> texts = {
      "",
      "100% %s %n %d %%",
      "Z\xC3\xBCrich \xE2\x9C\x93 \xF0\x9F\x9A\xB4 \xE6\x97\xA5\xE6\x9C\xAC",
      R"(C:\Program Files\Pellux\ "quoted" \\server\share {"json": [1]})",
      "line one\nline two\r\n\ttabbed \x01\x1F",
      std::string(SettingsStore::kMaxTextBytes, 'x'),
  };
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_TRUE(store_.WriteText("Proxy", "T" + std::to_string(i), texts[i]));
  }
  RegistrySettingsStore other(reported_.Reporter(), HKEY_CURRENT_USER, base_);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string name = "T" + std::to_string(i);
    SCOPED_TRACE(name);
    EXPECT_THAT(store_.ReadText("Proxy", name), Optional(texts[i]));
    EXPECT_THAT(other.ReadText("Proxy", name), Optional(texts[i]));
    EXPECT_THAT(GetRaw("Proxy", name), Optional(RawValue{REG_SZ, texts[i] + '\0'}));
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(RegistrySettingsStoreTest, TextOneByteOverTheLimitIsRefusedAndTheOldValueKept) {
  const std::string longest(SettingsStore::kMaxTextBytes, 'a');
  ASSERT_TRUE(store_.WriteText("Proxy", "Password", longest));

  EXPECT_FALSE(store_.WriteText("Proxy", "Password", longest + "b"));

  EXPECT_THAT(reported_.Take(), ElementsAre(AllOf(HasSubstr(ValuePath("Proxy", "Password")),
                                                  HasSubstr("4096 bytes"))));
  EXPECT_THAT(store_.ReadText("Proxy", "Password"), Optional(longest));
}

TEST_F(RegistrySettingsStoreTest, WriteOfTheOtherTypeReplacesTheValue) {
  ASSERT_TRUE(store_.WriteText("Tracker", "ServerPort", "80"));
  ASSERT_TRUE(store_.WriteNumber("Tracker", "ServerPort", 80));
  EXPECT_THAT(store_.ReadNumber("Tracker", "ServerPort"), Optional(80U));
  EXPECT_THAT(GetRaw("Tracker", "ServerPort"), Optional(RawValue{REG_DWORD, Dword(80)}));
}

// --- Missing keys and values; what a call creates and what it keeps.

TEST_F(RegistrySettingsStoreTest, MissingValueReadsAsUnsetQuietlyAndTheSectionKeyIsCreated) {
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, base_));

  EXPECT_EQ(store_.ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_EQ(store_.ReadText("Tracker", "ServerHost"), std::nullopt);

  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, SectionKey("Tracker")));
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(RegistrySettingsStoreTest, FirstWriteCreatesTheKeys) {
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, base_));

  ASSERT_TRUE(store_.WriteText("Tracker", "ServerHost", "example"));

  EXPECT_THAT(GetRaw("Tracker", "ServerHost"),
              Optional(RawValue{REG_SZ, std::string("example\0", 8)}));
}

TEST_F(RegistrySettingsStoreTest, WriteKeepsOtherSectionsAndValuesItDoesNotKnow) {
  PutRaw("Tracker", "Installer", REG_BINARY, "\x01\x02\x03");
  PutRaw("Proxy", "Host", REG_SZ, std::string("proxy.example\0", 14));

  ASSERT_TRUE(store_.WriteNumber("Tracker", "ServerPort", 8001));
  ASSERT_TRUE(store_.WriteNumber("Upload", "Retries", 3));

  EXPECT_THAT(GetRaw("Tracker", "Installer"), Optional(RawValue{REG_BINARY, "\x01\x02\x03"}));
  EXPECT_THAT(store_.ReadText("Proxy", "Host"), Optional(std::string("proxy.example")));
  EXPECT_THAT(store_.ReadNumber("Tracker", "ServerPort"), Optional(8001U));
  EXPECT_THAT(store_.ReadNumber("Upload", "Retries"), Optional(3U));
}

TEST_F(RegistrySettingsStoreTest, AnEditOfTheRegistryIsSeenAtTheNextRead) {
  ASSERT_TRUE(store_.WriteNumber("Tracker", "ServerPort", 8001));
  PutRaw("Tracker", "ServerPort", REG_DWORD, Dword(9001));
  EXPECT_THAT(store_.ReadNumber("Tracker", "ServerPort"), Optional(9001U));
}

// --- REG_SZ data as other writers leave it.

struct StoredText {
  const char* label;
  std::string bytes;
  std::string text;
};

void PrintTo(const StoredText& value, std::ostream* out) {
  *out << value.label;
}

std::string LabelOfText(const ::testing::TestParamInfo<StoredText>& param) {
  return param.param.label;
}

class RegistryStoredTextTest : public RegistrySettingsStoreTest,
                               public ::testing::WithParamInterface<StoredText> {};

TEST_P(RegistryStoredTextTest, ReadsAsTheTextBeforeAnyTrailingNuls) {
  PutRaw("Tracker", "ServerHost", REG_SZ, GetParam().bytes);
  EXPECT_THAT(store_.ReadText("Tracker", "ServerHost"), Optional(GetParam().text));
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    RegistrySettingsStore, RegistryStoredTextTest,
    ::testing::Values(
        StoredText{"WithoutNul", "example", "example"},
        StoredText{"SeveralNuls", std::string("example\0\0\0", 10), "example"},
        StoredText{"NoBytes", "", ""}, StoredText{"OnlyNul", std::string(1, '\0'), ""},
        StoredText{"LongestWithoutNul", std::string(4095, 'x'), std::string(4095, 'x')},
        StoredText{"LongestWithNul", std::string(4095, 'x') + '\0', std::string(4095, 'x')}),
    LabelOfText);

// --- Values of another type or size: reported, read as unset, left as they are.

struct MisfitValue {
  const char* label;
  DWORD type;
  std::string bytes;
};

void PrintTo(const MisfitValue& value, std::ostream* out) {
  *out << value.label;
}

std::string LabelOf(const ::testing::TestParamInfo<MisfitValue>& param) {
  return param.param.label;
}

class RegistryMisfitNumberTest : public RegistrySettingsStoreTest,
                                 public ::testing::WithParamInterface<MisfitValue> {};

TEST_P(RegistryMisfitNumberTest, ReadsAsUnsetIsReportedAndStaysInTheRegistry) {
  PutRaw("Tracker", "ServerPort", GetParam().type, GetParam().bytes);
  const auto before = GetRaw("Tracker", "ServerPort");

  EXPECT_EQ(store_.ReadNumber("Tracker", "ServerPort"), std::nullopt);

  EXPECT_THAT(reported_.Take(), ElementsAre(AllOf(HasSubstr(ValuePath("Tracker", "ServerPort")),
                                                  HasSubstr("reads as unset"))));
  // There but unusable, which a writer of defaults leaves alone; not reported again.
  EXPECT_TRUE(store_.HoldsUnusable("Tracker", "ServerPort", SettingsStore::Kind::kNumber));
  EXPECT_THAT(reported_.Take(), IsEmpty());
  EXPECT_EQ(GetRaw("Tracker", "ServerPort"), before);
}

INSTANTIATE_TEST_SUITE_P(
    RegistrySettingsStore, RegistryMisfitNumberTest,
    ::testing::Values(MisfitValue{"Text", REG_SZ, std::string("80\0", 3)},
                      MisfitValue{"ExpandableText", REG_EXPAND_SZ, std::string("80\0", 3)},
                      MisfitValue{"TextList", REG_MULTI_SZ, std::string("80\0\0", 4)},
                      MisfitValue{"Binary", REG_BINARY, Dword(80)},
                      MisfitValue{"Qword", REG_QWORD, Dword(80) + Dword(0)},
                      MisfitValue{"BigEndianDword", REG_DWORD_BIG_ENDIAN, Dword(80)},
                      MisfitValue{"NoType", REG_NONE, Dword(80)},
                      MisfitValue{"DwordOfNoBytes", REG_DWORD, ""},
                      MisfitValue{"DwordOfTwoBytes", REG_DWORD, "\x50\x00"},
                      MisfitValue{"DwordOfEightBytes", REG_DWORD, Dword(80) + Dword(0)},
                      MisfitValue{"LargeBinary", REG_BINARY, std::string(10000, 'b')}),
    LabelOf);

class RegistryMisfitTextTest : public RegistrySettingsStoreTest,
                               public ::testing::WithParamInterface<MisfitValue> {};

TEST_P(RegistryMisfitTextTest, ReadsAsUnsetIsReportedAndStaysInTheRegistry) {
  PutRaw("Tracker", "ServerHost", GetParam().type, GetParam().bytes);
  const auto before = GetRaw("Tracker", "ServerHost");

  EXPECT_EQ(store_.ReadText("Tracker", "ServerHost"), std::nullopt);

  EXPECT_THAT(reported_.Take(), ElementsAre(AllOf(HasSubstr(ValuePath("Tracker", "ServerHost")),
                                                  HasSubstr("reads as unset"))));
  EXPECT_TRUE(store_.HoldsUnusable("Tracker", "ServerHost", SettingsStore::Kind::kText));
  EXPECT_THAT(reported_.Take(), IsEmpty());
  EXPECT_EQ(GetRaw("Tracker", "ServerHost"), before);
}

INSTANTIATE_TEST_SUITE_P(
    RegistrySettingsStore, RegistryMisfitTextTest,
    ::testing::Values(MisfitValue{"Dword", REG_DWORD, Dword(80)},
                      MisfitValue{"ExpandableText", REG_EXPAND_SZ, std::string("%TEMP%\0", 7)},
                      MisfitValue{"TextList", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
                      MisfitValue{"Binary", REG_BINARY, "example"},
                      MisfitValue{"Qword", REG_QWORD, Dword(80) + Dword(0)},
                      MisfitValue{"TooLongWithoutNul", REG_SZ, std::string(4096, 'x')},
                      MisfitValue{"TooLongWithNul", REG_SZ, std::string(4096, 'x') + '\0'},
                      MisfitValue{"FarTooLong", REG_SZ, std::string(10000, 'x') + '\0'}),
    LabelOf);

// --- Values that read as what is asked, and missing ones: not unusable.

TEST_F(RegistrySettingsStoreTest, MissingAndReadableValuesAreNotUnusable) {
  using Kind = SettingsStore::Kind;
  PutRaw("Tracker", "Number", REG_DWORD, Dword(0xFFFFFFFF));
  PutRaw("Tracker", "Text", REG_SZ, std::string("\0", 1));
  PutRaw("Tracker", "Longest", REG_SZ, std::string(4095, 'x') + '\0');
  const struct {
    const char* name;
    Kind kind;
    bool unusable;
  } cases[] = {
      {"Missing", Kind::kNumber, false}, {"Missing", Kind::kText, false},
      {"Number", Kind::kNumber, false},  {"Number", Kind::kText, true},
      {"Text", Kind::kText, false},      {"Text", Kind::kNumber, true},
      {"Longest", Kind::kText, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(store_.HoldsUnusable("Tracker", c.name, c.kind), c.unusable);
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

// --- Calls the registry refuses: reported with the call, code and text; nothing changed.

TEST_F(RegistrySettingsStoreTest, KeyThatCannotBeOpenedFailsReadsAndWrites) {
  // Not a handle the registry gave out, as a root key left closed would be.
  RegistrySettingsStore store(reported_.Reporter(),
                              reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), base_);

  EXPECT_FALSE(store.WriteNumber("Tracker", "ServerPort", 8001));
  EXPECT_FALSE(store.WriteText("Tracker", "ServerHost", "example"));
  EXPECT_EQ(store.ReadNumber("Tracker", "ServerPort"), std::nullopt);

  const auto failure = AllOf(HasSubstr("RegCreateKeyExA("), HasSubstr(base_ + "\\Tracker"),
                             HasSubstr("failed: error 6 ("), Not(HasSubstr("no text")));
  EXPECT_THAT(reported_.Take(), ElementsAre(failure, failure, failure));
}

TEST_F(RegistrySettingsStoreTest, ValueTheRegistryRefusesFailsTheWriteAndKeepsTheKey) {
  ASSERT_TRUE(store_.WriteNumber("Tracker", "ServerPort", 8001));
  const std::string overlongName(20000, 'n');  // Value names end at 16383 characters.

  EXPECT_FALSE(store_.WriteNumber("Tracker", overlongName, 1));

  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("RegSetValueExA("), HasSubstr("failed: error 87 ("))));
  EXPECT_THAT(store_.ReadNumber("Tracker", "ServerPort"), Optional(8001U));
}

// --- Several threads at once.

TEST_F(RegistrySettingsStoreTest, ConcurrentWritesAllLand) {
  constexpr int kThreads = 4;
  constexpr int kWritesPerThread = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kWritesPerThread; ++i) {
        const std::string section = "T" + std::to_string(t);
        const std::string name = "V" + std::to_string(i);
        const bool written =
            i % 2 == 0 ? store_.WriteNumber(section, name, static_cast<std::uint32_t>(t * 1000 + i))
                       : store_.WriteText(section, name, section + name);
        if (!written) ++failures;
      }
    });
  }
  for (auto& writer : writers) writer.join();

  EXPECT_EQ(failures, 0);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWritesPerThread; ++i) {
      const std::string section = "T" + std::to_string(t);
      const std::string name = "V" + std::to_string(i);
      if (i % 2 == 0) {
        EXPECT_THAT(store_.ReadNumber(section, name),
                    Optional(static_cast<std::uint32_t>(t * 1000 + i)))
            << section << "/" << name;
      } else {
        EXPECT_THAT(store_.ReadText(section, name), Optional(section + name))
            << section << "/" << name;
      }
    }
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

// --- The service's own store, under HKEY_LOCAL_MACHINE.

TEST(CreateForPlatformTest, StoresUnderHklmSoftwarePellux) {
  const std::string base = "Software\\Pellux";
  const bool baseExisted = KeyExists(HKEY_LOCAL_MACHINE, base);
  const std::string section = "PelluxTest-" + RandomSuffix();
  ReportedLines reported;
  const auto store = SettingsStore::CreateForPlatform("ignored on Windows", reported.Reporter());

  const bool numberWritten = store->WriteNumber(section, "ServerPort", 0x80000000);
  const bool textWritten = store->WriteText(section, "ServerHost", "example");
  const auto number = GetRaw(HKEY_LOCAL_MACHINE, base + "\\" + section, "ServerPort");
  const auto text = GetRaw(HKEY_LOCAL_MACHINE, base + "\\" + section, "ServerHost");
  const auto readBack = store->ReadNumber(section, "ServerPort");

  RegDeleteTreeA(HKEY_LOCAL_MACHINE, (base + "\\" + section).c_str());
  if (!baseExisted) RegDeleteKeyA(HKEY_LOCAL_MACHINE, base.c_str());

  ASSERT_TRUE(numberWritten);
  ASSERT_TRUE(textWritten);
  EXPECT_THAT(number, Optional(RawValue{REG_DWORD, Dword(0x80000000)}));
  EXPECT_THAT(text, Optional(RawValue{REG_SZ, std::string("example\0", 8)}));
  EXPECT_THAT(readBack, Optional(0x80000000U));
  EXPECT_THAT(reported.Take(), IsEmpty());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, base + "\\" + section));
  EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, base), baseExisted);
}

}  // namespace
}  // namespace Pellux
