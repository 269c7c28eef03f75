#include "ui/settings/json_settings_store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/reported_lines.h"
#include "ui/settings/atomic_file.h"

namespace Pellux {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Optional;
using Json = nlohmann::json;

// A fresh directory for one test, removed with all it holds when the test ends.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::random_device random;
    std::ostringstream name;
    name << "pellux-settings-test-" << std::hex << random() << random();
    path_ = fs::temp_directory_path() / name.str();
    fs::create_directory(path_);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  ~TemporaryDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path.string());
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
  if (!file.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> EntriesOf(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

fs::perms PermissionsOf(const fs::path& path) {
  return fs::status(path).permissions() & fs::perms::all;
}

// 2024-01-02 03:04:05 UTC, with a fraction of a second the set-aside name must drop.
std::chrono::system_clock::time_point FixedNow() {
  using namespace std::chrono;
  return sys_days{year{2024} / 1 / 2} + hours{3} + minutes{4} + seconds{5} + milliseconds{678};
}
constexpr const char* kFixedStamp = "20240102T030405";

class JsonSettingsStoreTest : public ::testing::Test {
 protected:
  fs::path SettingsPath() const { return directory_.path() / "settings.json"; }
  std::unique_ptr<JsonSettingsStore> OpenStore(JsonSettingsStore::FileReplacer replacer = {}) {
    return std::make_unique<JsonSettingsStore>(SettingsPath().string(), reported_.Reporter(),
                                               FixedNow, std::move(replacer));
  }

  TemporaryDirectory directory_;
  ReportedLines reported_;
  std::unique_ptr<JsonSettingsStore> store_ = OpenStore();
};

// --- Values written come back as they were, from this store and from a new one on the file.

TEST_F(JsonSettingsStoreTest, NumbersRoundTripOverTheWholeDwordRangeAsJsonIntegers) {
  const std::vector<std::uint32_t> numbers = {0, 1, 8001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    ASSERT_TRUE(store_->WriteNumber("Tracker", "N" + std::to_string(i), numbers[i]));
  }
  const auto reopened = OpenStore();
  const Json document = Json::parse(ReadBytes(SettingsPath()));
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const std::string name = "N" + std::to_string(i);
    SCOPED_TRACE(name);
    EXPECT_THAT(store_->ReadNumber("Tracker", name), Optional(numbers[i]));
    EXPECT_THAT(reopened->ReadNumber("Tracker", name), Optional(numbers[i]));
    EXPECT_TRUE(document["Tracker"][name].is_number_unsigned());
    EXPECT_EQ(document["Tracker"][name].get<std::uint64_t>(), numbers[i]);
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(JsonSettingsStoreTest, TextsRoundTripByteForByte) {
  const std::vector<std::string> texts = {
      "",
      "100% %s %n %d %%",
      "Z\xC3\xBCrich \xE2\x9C\x93 \xF0\x9F\x9A\xB4 \xE6\x97\xA5\xE6\x9C\xAC",
      R"(C:\Program Files\Pellux\ "quoted" \\server\share \u0041 {"json": [1]})",
      "line one\nline two\r\n\ttabbed \x01\x1F",
      std::string(SettingsStore::kMaxTextBytes, 'x'),
  };
  for (std::size_t i = 0; i < texts.size(); ++i) {
    ASSERT_TRUE(store_->WriteText("Proxy", "T" + std::to_string(i), texts[i]));
  }
  const auto reopened = OpenStore();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string name = "T" + std::to_string(i);
    SCOPED_TRACE(name);
    EXPECT_THAT(store_->ReadText("Proxy", name), Optional(texts[i]));
    EXPECT_THAT(reopened->ReadText("Proxy", name), Optional(texts[i]));
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(JsonSettingsStoreTest, TextOneByteOverTheLimitIsRefusedAndTheOldValueKept) {
  const std::string longest(SettingsStore::kMaxTextBytes, 'a');
  ASSERT_TRUE(store_->WriteText("Proxy", "Password", longest));
  const std::string before = ReadBytes(SettingsPath());

  EXPECT_FALSE(store_->WriteText("Proxy", "Password", longest + "b"));

  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("Proxy/Password"), HasSubstr("4096 bytes"))));
  EXPECT_EQ(ReadBytes(SettingsPath()), before);
  EXPECT_THAT(store_->ReadText("Proxy", "Password"), Optional(longest));
}

TEST_F(JsonSettingsStoreTest, TextThatIsNotUtf8IsRefusedAndTheFileKept) {
  ASSERT_TRUE(store_->WriteText("Tracker", "ServerHost", "example"));
  const std::string before = ReadBytes(SettingsPath());

  EXPECT_FALSE(store_->WriteText("Tracker", "ServerHost", "bad \xFF\xFE byte"));

  EXPECT_THAT(reported_.Take(), ElementsAre(AllOf(HasSubstr("Tracker/ServerHost"),
                                                  HasSubstr("not written"), HasSubstr("UTF-8"))));
  EXPECT_EQ(ReadBytes(SettingsPath()), before);
  EXPECT_THAT(store_->ReadText("Tracker", "ServerHost"), Optional(std::string("example")));
}

TEST_F(JsonSettingsStoreTest, WriteOfTheOtherTypeReplacesTheValue) {
  ASSERT_TRUE(store_->WriteText("Tracker", "ServerPort", "80"));
  ASSERT_TRUE(store_->WriteNumber("Tracker", "ServerPort", 80));
  EXPECT_THAT(store_->ReadNumber("Tracker", "ServerPort"), Optional(80U));
  EXPECT_EQ(store_->ReadText("Tracker", "ServerPort"), std::nullopt);
}

// --- Missing files, sections and values; what a write creates and what it keeps.

TEST_F(JsonSettingsStoreTest, MissingFileReadsAsUnsetWithoutCreatingAnything) {
  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_EQ(store_->ReadText("Tracker", "ServerHost"), std::nullopt);
  EXPECT_THAT(EntriesOf(directory_.path()), IsEmpty());
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(JsonSettingsStoreTest, MissingAndUsableValuesAreNotUnusable) {
  using Kind = SettingsStore::Kind;
  EXPECT_FALSE(store_->HoldsUnusable("Tracker", "ServerPort", Kind::kNumber));
  WriteBytes(SettingsPath(), R"({"Tracker": {"ServerPort": 8001, "ServerHost": "example"},
                                 "Proxy": 5})");
  EXPECT_FALSE(store_->HoldsUnusable("Tracker", "ServerPort", Kind::kNumber));
  EXPECT_FALSE(store_->HoldsUnusable("Tracker", "ServerHost", Kind::kText));
  EXPECT_FALSE(store_->HoldsUnusable("Tracker", "Missing", Kind::kText));
  EXPECT_FALSE(store_->HoldsUnusable("Other", "ServerPort", Kind::kNumber));
  EXPECT_FALSE(store_->HoldsUnusable("Proxy", "Port", Kind::kNumber));
  EXPECT_TRUE(store_->HoldsUnusable("Tracker", "ServerPort", Kind::kText));
  EXPECT_TRUE(store_->HoldsUnusable("Tracker", "ServerHost", Kind::kNumber));
  EXPECT_TRUE(reported_.Take().empty());
}

TEST_F(JsonSettingsStoreTest, MissingSectionOrValueReadsAsUnsetQuietly) {
  WriteBytes(SettingsPath(), R"({"Tracker": {"ServerPort": 8001}})");
  EXPECT_EQ(store_->ReadNumber("Other", "ServerPort"), std::nullopt);
  EXPECT_EQ(store_->ReadNumber("Tracker", "Missing"), std::nullopt);
  EXPECT_EQ(store_->ReadNumber("tracker", "serverport"), std::nullopt);
  EXPECT_THAT(store_->ReadNumber("Tracker", "ServerPort"), Optional(8001U));
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(JsonSettingsStoreTest, FirstWriteCreatesTheDirectoriesAndAPrivateFile) {
  const fs::path path = directory_.path() / "state" / "pellux" / "settings.json";
  JsonSettingsStore store(path.string(), reported_.Reporter());

  ASSERT_TRUE(store.WriteNumber("Tracker", "ServerPort", 8001));

  EXPECT_EQ(Json::parse(ReadBytes(path)), Json::parse(R"({"Tracker": {"ServerPort": 8001}})"));
  EXPECT_EQ(PermissionsOf(path), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(JsonSettingsStoreTest, WriteKeepsOtherSectionsAndEntriesItDoesNotKnow) {
  const Json original = Json::parse(R"({
    "Tracker": {"ServerPort": 8001, "Notes": ["kept", {"nested": null}], "Ratio": 0.5},
    "Proxy": {"Host": "proxy.example", "Port": 3128},
    "Comment": "written by hand"
  })");
  WriteBytes(SettingsPath(), original.dump());

  ASSERT_TRUE(store_->WriteText("Tracker", "ServerHost", "example"));
  ASSERT_TRUE(store_->WriteNumber("Upload", "Retries", 3));

  Json expected = original;
  expected["Tracker"]["ServerHost"] = "example";
  expected["Upload"]["Retries"] = 3;
  EXPECT_EQ(Json::parse(ReadBytes(SettingsPath())), expected);
  EXPECT_THAT(store_->ReadText("Proxy", "Host"), Optional(std::string("proxy.example")));
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(JsonSettingsStoreTest, AnEditOfTheFileIsSeenAtTheNextRead) {
  ASSERT_TRUE(store_->WriteNumber("Tracker", "ServerPort", 8001));
  WriteBytes(SettingsPath(), R"({"Tracker": {"ServerPort": 9001}})");
  EXPECT_THAT(store_->ReadNumber("Tracker", "ServerPort"), Optional(9001U));
}

// --- Values of the wrong type in the file: reported, read as unset, left in the file.

struct MisfitValue {
  const char* label;
  std::string json;
};

void PrintTo(const MisfitValue& value, std::ostream* out) {
  *out << value.label;
}

std::string LabelOf(const ::testing::TestParamInfo<MisfitValue>& param) {
  return param.param.label;
}

class JsonMisfitNumberTest : public JsonSettingsStoreTest,
                             public ::testing::WithParamInterface<MisfitValue> {};

TEST_P(JsonMisfitNumberTest, ReadsAsUnsetIsReportedAndStaysInTheFile) {
  const std::string contents = R"({"Tracker": {"ServerPort": )" + GetParam().json + "}}";
  WriteBytes(SettingsPath(), contents);

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);

  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("Tracker/ServerPort"), HasSubstr(SettingsPath().string()),
                                HasSubstr("reads as unset"))));
  // Unusable, not missing: a writer of defaults leaves it for the administrator to mend.
  EXPECT_TRUE(store_->HoldsUnusable("Tracker", "ServerPort", SettingsStore::Kind::kNumber));
  EXPECT_TRUE(reported_.Take().empty());
  EXPECT_EQ(ReadBytes(SettingsPath()), contents);
}

INSTANTIATE_TEST_SUITE_P(
    JsonSettingsStore, JsonMisfitNumberTest,
    ::testing::Values(MisfitValue{"Text", R"("80")"}, MisfitValue{"WholeFloat", "80.0"},
                      MisfitValue{"Fraction", "8.5"}, MisfitValue{"Exponent", "1e3"},
                      MisfitValue{"True", "true"}, MisfitValue{"False", "false"},
                      MisfitValue{"Null", "null"}, MisfitValue{"Negative", "-1"},
                      MisfitValue{"NegativeZero", "-0"}, MisfitValue{"OneOverDword", "4294967296"},
                      MisfitValue{"OverUint64", "18446744073709551616"},
                      MisfitValue{"Huge", "1e300"}, MisfitValue{"EmptyArray", "[]"},
                      MisfitValue{"Array", "[80]"}, MisfitValue{"Object", R"({"value": 80})"}),
    LabelOf);

class JsonMisfitTextTest : public JsonSettingsStoreTest,
                           public ::testing::WithParamInterface<MisfitValue> {};

TEST_P(JsonMisfitTextTest, ReadsAsUnsetIsReportedAndStaysInTheFile) {
  const std::string contents = R"({"Tracker": {"ServerHost": )" + GetParam().json + "}}";
  WriteBytes(SettingsPath(), contents);

  EXPECT_EQ(store_->ReadText("Tracker", "ServerHost"), std::nullopt);

  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("Tracker/ServerHost"), HasSubstr("reads as unset"))));
  EXPECT_TRUE(store_->HoldsUnusable("Tracker", "ServerHost", SettingsStore::Kind::kText));
  EXPECT_EQ(ReadBytes(SettingsPath()), contents);
}

INSTANTIATE_TEST_SUITE_P(
    JsonSettingsStore, JsonMisfitTextTest,
    ::testing::Values(MisfitValue{"Number", "80"}, MisfitValue{"True", "true"},
                      MisfitValue{"Null", "null"}, MisfitValue{"Array", R"(["example"])"},
                      MisfitValue{"Object", R"({"host": "example"})"},
                      MisfitValue{"TooLong", '"' + std::string(4096, 'h') + '"'}),
    LabelOf);

class JsonMisfitSectionTest : public JsonSettingsStoreTest,
                              public ::testing::WithParamInterface<MisfitValue> {};

TEST_P(JsonMisfitSectionTest, ReadsAsEmptyAndAWriteReplacesItWithAnObject) {
  WriteBytes(SettingsPath(), R"({"Tracker": )" + GetParam().json + R"(, "Proxy": {"Port": 3128}})");

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("section Tracker"), HasSubstr("not an object"))));

  ASSERT_TRUE(store_->WriteNumber("Tracker", "ServerPort", 8001));
  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("section Tracker"), HasSubstr("replaced"))));
  EXPECT_THAT(store_->ReadNumber("Tracker", "ServerPort"), Optional(8001U));
  EXPECT_THAT(store_->ReadNumber("Proxy", "Port"), Optional(3128U));
}

INSTANTIATE_TEST_SUITE_P(JsonSettingsStore, JsonMisfitSectionTest,
                         ::testing::Values(MisfitValue{"Number", "5"}, MisfitValue{"Null", "null"},
                                           MisfitValue{"Text", R"("Tracker")"},
                                           MisfitValue{"Array", R"([{"ServerPort": 80}])"}),
                         LabelOf);

// --- Files that cannot be parsed are moved aside whole, never overwritten.

class JsonCorruptFileTest : public JsonSettingsStoreTest,
                            public ::testing::WithParamInterface<MisfitValue> {
 protected:
  fs::path AsidePath(const std::string& suffix = "") const {
    return SettingsPath().string() + ".corrupt-" + kFixedStamp + suffix;
  }
};

TEST_P(JsonCorruptFileTest, IsMovedAsideReportedAndReplacedByTheNextWrite) {
  const std::string contents = GetParam().json;
  WriteBytes(SettingsPath(), contents);

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);

  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr(SettingsPath().string() + " cannot be parsed"),
                                HasSubstr("moved it to " + AsidePath().string()))));
  EXPECT_EQ(ReadBytes(AsidePath()), contents);
  EXPECT_FALSE(fs::exists(SettingsPath()));
  // The defaults are used from now on, without a report at every read.
  EXPECT_EQ(store_->ReadText("Tracker", "ServerHost"), std::nullopt);
  EXPECT_THAT(reported_.Take(), IsEmpty());

  ASSERT_TRUE(store_->WriteNumber("Tracker", "ServerPort", 8001));
  EXPECT_EQ(Json::parse(ReadBytes(SettingsPath())),
            Json::parse(R"({"Tracker": {"ServerPort": 8001}})"));
  EXPECT_EQ(ReadBytes(AsidePath()), contents);
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_P(JsonCorruptFileTest, FoundByAWriteIsMovedAsideBeforeTheNewFileIsWritten) {
  const std::string contents = GetParam().json;
  WriteBytes(SettingsPath(), contents);

  ASSERT_TRUE(store_->WriteText("Tracker", "ServerHost", "example"));

  EXPECT_THAT(reported_.Take(), ElementsAre(HasSubstr("moved it to " + AsidePath().string())));
  EXPECT_EQ(ReadBytes(AsidePath()), contents);
  EXPECT_EQ(Json::parse(ReadBytes(SettingsPath())),
            Json::parse(R"({"Tracker": {"ServerHost": "example"}})"));
}

std::string DeeplyNested(int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += R"({"a":)";
  text += "1";
  text.append(static_cast<std::size_t>(levels), '}');
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    JsonSettingsStore, JsonCorruptFileTest,
    ::testing::Values(
        MisfitValue{"Garbage", "this is not JSON\n"},
        MisfitValue{"Truncated", R"({"Tracker": {"ServerPort": 80)"},
        MisfitValue{"TrailingGarbage", R"({"Tracker": {}} and more)"},
        MisfitValue{"TopLevelArray", R"([{"Tracker": {"ServerPort": 80}}])"},
        MisfitValue{"TopLevelText", R"("Tracker")"}, MisfitValue{"TopLevelNumber", "42"},
        MisfitValue{"TopLevelNull", "null"}, MisfitValue{"OnlyWhitespace", " \n\t \n"},
        MisfitValue{"Binary", std::string("\x00\x01\xFF{\x00}", 6)},
        MisfitValue{"InvalidUtf8", "{\"Tracker\": {\"ServerHost\": \"\xC3\x28\"}}"},
        MisfitValue{"Comment", "// settings\n{\"Tracker\": {}}"},
        MisfitValue{"DeepObject", DeeplyNested(100000)},
        MisfitValue{"DeepArray", std::string(200000, '[')},
        MisfitValue{"TooLarge", R"({"Tracker": {"ServerHost": ")" +
                                    std::string(JsonSettingsStore::kMaxFileBytes, 'x') + R"("}})"}),
    LabelOf);

TEST_F(JsonSettingsStoreTest, SetAsideNameTakesACounterWhenTheTimestampIsTaken) {
  const std::string aside = SettingsPath().string() + ".corrupt-" + kFixedStamp;
  WriteBytes(aside, "first");
  WriteBytes(aside + "-1", "second");
  WriteBytes(SettingsPath(), "third {");

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);

  EXPECT_THAT(reported_.Take(), ElementsAre(HasSubstr("moved it to " + aside + "-2")));
  EXPECT_EQ(ReadBytes(aside), "first");
  EXPECT_EQ(ReadBytes(aside + "-1"), "second");
  EXPECT_EQ(ReadBytes(aside + "-2"), "third {");
}

TEST_F(JsonSettingsStoreTest, CorruptFileThatCannotBeSetAsideIsNeverOverwritten) {
  const std::string aside = SettingsPath().string() + ".corrupt-" + kFixedStamp;
  WriteBytes(aside, "");
  for (int i = 1; i < 1000; ++i) WriteBytes(aside + "-" + std::to_string(i), "");
  WriteBytes(SettingsPath(), "{ precious but broken");

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_FALSE(store_->WriteNumber("Tracker", "ServerPort", 8001));

  const auto refusal = AllOf(HasSubstr(SettingsPath().string() + " cannot be parsed"),
                             HasSubstr("no free name"), HasSubstr("left untouched"));
  EXPECT_THAT(reported_.Take(), ElementsAre(refusal, refusal));
  EXPECT_EQ(ReadBytes(SettingsPath()), "{ precious but broken");
}

TEST_F(JsonSettingsStoreTest, SetAsideNameIsTheClocksUtcSecond) {
  using namespace std::chrono;
  const auto lastMoment =
      sys_days{year{1999} / 12 / 31} + hours{23} + minutes{59} + seconds{59} + milliseconds{999};
  JsonSettingsStore store(SettingsPath().string(), reported_.Reporter(),
                          [lastMoment] { return lastMoment; });
  WriteBytes(SettingsPath(), "[");

  EXPECT_EQ(store.ReadNumber("Tracker", "ServerPort"), std::nullopt);

  EXPECT_TRUE(fs::exists(SettingsPath().string() + ".corrupt-19991231T235959"));
}

TEST_F(JsonSettingsStoreTest, ZeroByteFileIsEmptyNotCorrupt) {
  WriteBytes(SettingsPath(), "");

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_THAT(EntriesOf(directory_.path()), ElementsAre("settings.json"));
  EXPECT_THAT(reported_.Take(), IsEmpty());

  ASSERT_TRUE(store_->WriteNumber("Tracker", "ServerPort", 8001));
  EXPECT_THAT(store_->ReadNumber("Tracker", "ServerPort"), Optional(8001U));
  EXPECT_THAT(EntriesOf(directory_.path()), ElementsAre("settings.json"));
}

TEST_F(JsonSettingsStoreTest, ThrowingReporterDoesNotEscapeTheStore) {
  JsonSettingsStore store(
      SettingsPath().string(), [](const std::string&) { throw std::runtime_error("log is full"); },
      FixedNow);
  WriteBytes(SettingsPath(), "not JSON");

  EXPECT_EQ(store.ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_FALSE(store.WriteText("Tracker", "ServerHost", std::string(5000, 'x')));
  EXPECT_TRUE(store.WriteNumber("Tracker", "ServerPort", 8001));
  EXPECT_EQ(ReadBytes(SettingsPath().string() + ".corrupt-" + kFixedStamp), "not JSON");
}

// --- Paths that cannot be read or written: reported, nothing replaced.

TEST_F(JsonSettingsStoreTest, DirectoryInPlaceOfTheFileIsReportedAndLeftAlone) {
  fs::create_directory(SettingsPath());
  WriteBytes(SettingsPath() / "inside", "kept");

  EXPECT_EQ(store_->ReadNumber("Tracker", "ServerPort"), std::nullopt);
  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr(SettingsPath().string()), HasSubstr("no regular file"))));

  EXPECT_FALSE(store_->WriteNumber("Tracker", "ServerPort", 8001));
  EXPECT_THAT(reported_.Take(), ElementsAre(HasSubstr("not written")));
  EXPECT_EQ(ReadBytes(SettingsPath() / "inside"), "kept");
}

TEST_F(JsonSettingsStoreTest, FileInPlaceOfTheDirectoryFailsTheWriteAndIsLeftAlone) {
  // Tests run as root, so a read-only directory would not stop the write; a file where the
  // directory should be does.
  const fs::path blocker = directory_.path() / "state";
  WriteBytes(blocker, "precious");
  JsonSettingsStore store((blocker / "settings.json").string(), reported_.Reporter());

  EXPECT_FALSE(store.WriteNumber("Tracker", "ServerPort", 8001));

  EXPECT_THAT(reported_.Take(), ElementsAre(AllOf(HasSubstr((blocker / "settings.json").string()),
                                                  HasSubstr("errno 20 (Not a directory)"))));
  EXPECT_EQ(ReadBytes(blocker), "precious");
  EXPECT_THAT(EntriesOf(directory_.path()), ElementsAre("state"));
}

TEST_F(JsonSettingsStoreTest, FailedReplaceLeavesFileAndValuesAsTheyWere) {
  ASSERT_TRUE(store_->WriteNumber("Tracker", "ServerPort", 80));
  const std::string before = ReadBytes(SettingsPath());
  const auto store = OpenStore([](const std::string&, const std::string&, std::string& error) {
    error = "write(settings.json.tmp-1) failed: errno 28 (No space left on device)";
    return false;
  });

  EXPECT_FALSE(store->WriteNumber("Tracker", "ServerPort", 90));

  EXPECT_THAT(reported_.Take(), ElementsAre(AllOf(HasSubstr("Tracker/ServerPort not written"),
                                                  HasSubstr("errno 28 (No space left"))));
  EXPECT_EQ(ReadBytes(SettingsPath()), before);
  EXPECT_THAT(store->ReadNumber("Tracker", "ServerPort"), Optional(80U));
}

TEST_F(JsonSettingsStoreTest, WriteThatMayNotSurviveACrashSucceedsWithAReport) {
  const auto store =
      OpenStore([](const std::string& path, const std::string& contents, std::string& error) {
        WriteBytes(path, contents);
        error = "fsync(dir) failed: errno 5 (Input/output error)";
        return true;
      });

  EXPECT_TRUE(store->WriteNumber("Tracker", "ServerPort", 90));

  EXPECT_THAT(reported_.Take(),
              ElementsAre(AllOf(HasSubstr("may not survive a crash"), HasSubstr("errno 5"))));
  EXPECT_THAT(store->ReadNumber("Tracker", "ServerPort"), Optional(90U));
}

// --- Several threads at once.

TEST_F(JsonSettingsStoreTest, ConcurrentWritesAllLandAndReadersNeverSeeAPartialFile) {
  constexpr int kThreads = 4;
  constexpr int kWritesPerThread = 50;
  // A second store on the same file shares no lock with the writers, as the UI process or an
  // administrator's editor would not: it must still never find a half-written file.
  ReportedLines readerReports;
  JsonSettingsStore reader(SettingsPath().string(), readerReports.Reporter(), FixedNow);
  std::atomic<bool> writing{true};
  std::thread readerThread([&] {
    while (writing) reader.ReadNumber("T0", "V0");
  });

  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kWritesPerThread; ++i) {
        const std::string section = "T" + std::to_string(t);
        const std::string name = "V" + std::to_string(i);
        const bool written =
            i % 2 == 0
                ? store_->WriteNumber(section, name, static_cast<std::uint32_t>(t * 1000 + i))
                : store_->WriteText(section, name, section + name);
        if (!written) ++failures;
      }
    });
  }
  for (auto& writer : writers) writer.join();
  writing = false;
  readerThread.join();

  EXPECT_EQ(failures, 0);
  const auto reopened = OpenStore();
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWritesPerThread; ++i) {
      const std::string section = "T" + std::to_string(t);
      const std::string name = "V" + std::to_string(i);
      if (i % 2 == 0) {
        EXPECT_THAT(reopened->ReadNumber(section, name),
                    Optional(static_cast<std::uint32_t>(t * 1000 + i)))
            << section << "/" << name;
      } else {
        EXPECT_THAT(reopened->ReadText(section, name), Optional(section + name))
            << section << "/" << name;
      }
    }
  }
  EXPECT_THAT(reported_.Take(), IsEmpty());
  EXPECT_THAT(readerReports.Take(), IsEmpty());
  EXPECT_THAT(EntriesOf(directory_.path()), ElementsAre("settings.json"));
}

// --- The atomic replacement underneath.

class AtomicFileTest : public ::testing::Test {
 protected:
  TemporaryDirectory directory_;
  fs::path target_ = directory_.path() / "file";
  std::string error_;
};

TEST_F(AtomicFileTest, ReplacesTheContentsAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(ReplaceFileAtomically(target_.string(), "first", error_)) << error_;
  ASSERT_TRUE(ReplaceFileAtomically(target_.string(), "second, longer", error_)) << error_;
  ASSERT_TRUE(ReplaceFileAtomically(target_.string(), "", error_)) << error_;

  EXPECT_EQ(ReadBytes(target_), "");
  EXPECT_EQ(error_, "");
  EXPECT_THAT(EntriesOf(directory_.path()), ElementsAre("file"));
}

TEST_F(AtomicFileTest, NewFileIsOwnerOnlyAndAReplacedFileKeepsItsPermissions) {
  ASSERT_TRUE(ReplaceFileAtomically(target_.string(), "secret", error_)) << error_;
  EXPECT_EQ(PermissionsOf(target_), fs::perms::owner_read | fs::perms::owner_write);

  const auto shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(target_, shared);
  ASSERT_TRUE(ReplaceFileAtomically(target_.string(), "shared", error_)) << error_;
  EXPECT_EQ(PermissionsOf(target_), shared);
}

TEST_F(AtomicFileTest, FailureToCreateTheTemporaryFileNamesTheCall) {
  WriteBytes(directory_.path() / "state", "precious");

  EXPECT_FALSE(ReplaceFileAtomically((directory_.path() / "state" / "file").string(), "x", error_));

  EXPECT_THAT(error_, AllOf(HasSubstr("mkostemp("), HasSubstr("errno 20 (Not a directory)")));
  EXPECT_EQ(ReadBytes(directory_.path() / "state"), "precious");
}

TEST_F(AtomicFileTest, FailedRenameRemovesTheTemporaryFile) {
  fs::create_directory(target_);
  WriteBytes(target_ / "inside", "kept");

  EXPECT_FALSE(ReplaceFileAtomically(target_.string(), "x", error_));

  EXPECT_THAT(error_, AllOf(HasSubstr("rename("), HasSubstr("errno 21 (Is a directory)")));
  EXPECT_THAT(EntriesOf(directory_.path()), ElementsAre("file"));
  EXPECT_EQ(ReadBytes(target_ / "inside"), "kept");
}

TEST_F(AtomicFileTest, ReadWholeFileTellsMissingFromFailedAndStopsPastTheLimit) {
  std::string contents = "left over";
  EXPECT_EQ(ReadWholeFile(target_.string(), 100, contents, error_), FileReadResult::kMissing);
  EXPECT_EQ(contents, "");

  WriteBytes(target_, std::string(100000, 'z'));
  EXPECT_EQ(ReadWholeFile(target_.string(), 100000, contents, error_), FileReadResult::kRead);
  EXPECT_EQ(contents.size(), 100000U);
  EXPECT_EQ(ReadWholeFile(target_.string(), 99999, contents, error_), FileReadResult::kRead);
  EXPECT_EQ(contents.size(), 100000U);  // One byte past the limit tells "too large".
  EXPECT_EQ(ReadWholeFile(target_.string(), 10, contents, error_), FileReadResult::kRead);
  EXPECT_EQ(contents.size(), 11U);

  EXPECT_EQ(ReadWholeFile((target_ / "below").string(), 100, contents, error_),
            FileReadResult::kFailed);
  EXPECT_THAT(error_, AllOf(HasSubstr("open("), HasSubstr("errno 20")));
}

// --- Where the daemon keeps the file.

TEST(DefaultSettingsPathTest, IsUnderVarLibWithoutAStateDirectory) {
  EXPECT_EQ(DefaultSettingsPath(nullptr), "/var/lib/pellux/settings.json");
  EXPECT_EQ(DefaultSettingsPath(""), "/var/lib/pellux/settings.json");
  EXPECT_EQ(DefaultSettingsPath(":/var/lib/other"), "/var/lib/pellux/settings.json");
}

TEST(DefaultSettingsPathTest, IsInTheFirstStateDirectorySystemdGives) {
  EXPECT_EQ(DefaultSettingsPath("/var/lib/pellux-state"), "/var/lib/pellux-state/settings.json");
  EXPECT_EQ(DefaultSettingsPath("/var/lib/pellux-state/"), "/var/lib/pellux-state/settings.json");
  EXPECT_EQ(DefaultSettingsPath("/var/lib/first:/var/lib/second"), "/var/lib/first/settings.json");
}

TEST(CreateForPlatformTest, UsesTheGivenLocation) {
  TemporaryDirectory directory;
  const fs::path path = directory.path() / "custom.json";
  const auto store = SettingsStore::CreateForPlatform(path.string(), {});

  ASSERT_TRUE(store->WriteNumber("Tracker", "ServerPort", 8001));

  EXPECT_EQ(Json::parse(ReadBytes(path)), Json::parse(R"({"Tracker": {"ServerPort": 8001}})"));
}

}  // namespace
}  // namespace Pellux
