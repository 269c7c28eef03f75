#include "ui/system/client_id.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/memory_settings_store.h"
#include "tests/support/reported_lines.h"

namespace Pellux {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

// Checks the lower-case 8-4-4-4-12 form, the version 4 (random) and the RFC 9562 variant.
void ExpectUuidForm(const std::string& id) {
  ASSERT_EQ(id.size(), 36U) << id;
  for (std::size_t at = 0; at < id.size(); ++at) {
    if (at == 8 || at == 13 || at == 18 || at == 23) {
      EXPECT_EQ(id[at], '-') << id;
    } else {
      EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(id[at])) && !std::isupper(id[at])) << id;
    }
  }
  EXPECT_EQ(id[14], '4') << id;
  EXPECT_THAT(std::string("89ab"), HasSubstr(std::string(1, id[19]))) << id;
}

// A store that holds nothing: every write fails, as a registry without rights would.
class FailingStore final : public SettingsStore {
 public:
  std::optional<std::uint32_t> ReadNumber(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ReadText(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  bool WriteNumber(const std::string&, const std::string&, std::uint32_t) override { return false; }
  bool WriteText(const std::string&, const std::string&, const std::string&) override {
    return false;
  }
};

TEST(ClientIdTest, MadeIdsHaveTheUuidFormAndDiffer) {
  ReportedLines reported;
  std::set<std::string> ids;
  for (int made = 0; made < 1000; ++made) {
    const std::optional<std::string> id = MakeClientId(reported.Reporter());
    ASSERT_TRUE(id.has_value());
    ExpectUuidForm(*id);
    ids.insert(*id);
  }
  EXPECT_THAT(ids, SizeIs(1000));
  EXPECT_THAT(reported.Take(), IsEmpty());
}

TEST(ClientIdTest, FirstUseStoresTheIdAndLaterUsesReturnIt) {
  MemorySettingsStore store;
  const std::string id = GetClientId(store, {});
  ExpectUuidForm(id);
  EXPECT_EQ(store.ReadText("Tracker", "ClientId"), id);
  EXPECT_EQ(GetClientId(store, {}), id);
  EXPECT_EQ(store.Count("Tracker"), 1U);
}

TEST(ClientIdTest, StoredTextIsReturnedUnchangedAndAnythingElseReplaced) {
  struct Row {
    const char* what;
    std::optional<std::string> storedText;
    bool kept;
  };
  const std::vector<Row> rows = {
      {"an id", "0f8fad5b-d9cb-469f-a165-70867728950e", true},
      {"braces and capitals", "{0F8FAD5B-D9CB-469F-A165-70867728950E}", true},
      {"control characters", std::string("\n\x01id\0x", 6), true},
      {"the longest text", std::string(SettingsStore::kMaxTextBytes, '\xff'), true},
      {"empty", "", false},
      {"absent", std::nullopt, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    MemorySettingsStore store;
    if (row.storedText) store.WriteText("Tracker", "ClientId", *row.storedText);
    const std::string id = GetClientId(store, {});
    if (row.kept) {
      EXPECT_EQ(id, *row.storedText);
    } else {
      ExpectUuidForm(id);
    }
    EXPECT_EQ(store.ReadText("Tracker", "ClientId"), id);
  }
}

TEST(ClientIdTest, NumberWhereTheIdBelongsIsReplacedByAText) {
  MemorySettingsStore store;
  store.WriteNumber("Tracker", "ClientId", 7);
  const std::string id = GetClientId(store, {});
  ExpectUuidForm(id);
  EXPECT_EQ(store.ReadText("Tracker", "ClientId"), id);
}

TEST(ClientIdTest, FailingStoreStillGetsAnIdAndANewOneEachTime) {
  FailingStore store;
  ReportedLines reported;
  const std::string first = GetClientId(store, reported.Reporter());
  const std::string second = GetClientId(store, reported.Reporter());
  ExpectUuidForm(first);
  ExpectUuidForm(second);
  EXPECT_NE(first, second);
  EXPECT_THAT(reported.Take(), ElementsAre(HasSubstr(first), HasSubstr(second)));
}

TEST(ClientIdTest, ConcurrentFirstUsesAgreeOnOneId) {
  MemorySettingsStore store;
  std::vector<std::string> ids(8);
  std::vector<std::thread> threads;
  for (std::string& id : ids) threads.emplace_back([&store, &id] { id = GetClientId(store, {}); });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 1U);
  EXPECT_EQ(store.ReadText("Tracker", "ClientId"), ids.front());
}

}  // namespace
}  // namespace Pellux
