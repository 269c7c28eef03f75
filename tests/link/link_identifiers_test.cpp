#include "link/link_identifiers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace Pellux {
namespace {

std::vector<std::uint16_t> Draw(LinkIdentifiers& identifiers, std::size_t count) {
  std::vector<std::uint16_t> numbers;
  for (std::size_t i = 0; i < count; ++i) {
    numbers.push_back(identifiers.NextSessionDeviceNumber());
  }
  return numbers;
}

TEST(LinkIdentifiersTest, SameSeedGivesTheSameHostIdAndDeviceNumbers) {
  LinkIdentifiers first(1700000000);
  LinkIdentifiers second(1700000000);
  EXPECT_EQ(first.HostId(), second.HostId());
  EXPECT_EQ(Draw(first, 20), Draw(second, 20));
}

TEST(LinkIdentifiersTest, HostsStartedInDifferentSecondsGetDifferentHostIds) {
  std::set<std::uint32_t> hostIds;
  for (std::uint32_t second = 1700000000; second < 1700000100; ++second) {
    hostIds.insert(LinkIdentifiers(second).HostId());
  }
  EXPECT_EQ(hostIds.size(), 100u);
}

TEST(LinkIdentifiersTest, DrawsTheHostIdFirstThenDeviceNumbersFromTheSameGenerator) {
  const std::uint32_t seed = 1234567;
  std::mt19937 reference(seed);
  const std::uint32_t hostId =
      std::uniform_int_distribution<std::uint32_t>(0, 0x7FFFFFFF)(reference);
  std::uniform_int_distribution<std::uint16_t> numbers(1, 0xFEFF);

  LinkIdentifiers identifiers(seed);
  EXPECT_EQ(identifiers.HostId(), hostId);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(identifiers.NextSessionDeviceNumber(), numbers(reference)) << "draw " << i;
  }
  EXPECT_EQ(identifiers.HostId(), hostId) << "the host ID stays fixed";
}

TEST(LinkIdentifiersTest, KeepsEveryNumberInsideItsRange) {
  for (const std::uint32_t seed :
       {0u, 1u, 1700000000u, std::numeric_limits<std::uint32_t>::max()}) {
    SCOPED_TRACE(seed);
    LinkIdentifiers identifiers(seed);
    EXPECT_LE(identifiers.HostId(), 0x7FFFFFFFu);
    const std::vector<std::uint16_t> numbers = Draw(identifiers, 100000);
    const auto [low, high] = std::minmax_element(numbers.begin(), numbers.end());
    EXPECT_GE(*low, 1);
    EXPECT_LE(*high, 0xFEFF);
    // The whole range is in use, not a corner of it.
    EXPECT_LT(*low, 0x0100);
    EXPECT_GT(*high, 0xFE00);
  }
}

TEST(LinkIdentifiersTest, ProcessInstanceIsOneAndSharedSafelyBetweenThreads) {
  LinkIdentifiers& process = LinkIdentifiers::ForProcess();
  const std::uint32_t hostId = process.HostId();
  EXPECT_LE(hostId, 0x7FFFFFFFu);

  std::vector<std::vector<std::uint16_t>> drawn(4);
  std::vector<LinkIdentifiers*> seen(drawn.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < drawn.size(); ++t) {
      threads.emplace_back([&, t] {
        seen[t] = &LinkIdentifiers::ForProcess();
        drawn[t] = Draw(*seen[t], 1000);
      });
    }
  }
  for (std::size_t t = 0; t < drawn.size(); ++t) {
    EXPECT_EQ(seen[t], &process);
    for (const std::uint16_t number : drawn[t]) {
      ASSERT_GE(number, 1);
      ASSERT_LE(number, 0xFEFF);
    }
  }
  EXPECT_EQ(LinkIdentifiers::ForProcess().HostId(), hostId);
}

}  // namespace
}  // namespace Pellux
