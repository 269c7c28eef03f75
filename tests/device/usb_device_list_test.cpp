#include "device/usb_device_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace Pellux {
namespace {

struct Described {
  virtual ~Described() = default;
  int number = 0;
};

struct Bridge final : Described {
  std::string product;
};

std::shared_ptr<const Bridge> MakeBridge(int number, std::string product) {
  auto made = std::make_shared<Bridge>();
  made->number = number;
  made->product = std::move(product);
  return made;
}

TEST(USBDeviceListTest, FilteredCopiesKeepTheOrderAndAppendGoesAtTheEnd) {
  USBDeviceList<Bridge> bridges;
  bridges.Add(MakeBridge(0, "ANT USB Stick"));
  bridges.Add(MakeBridge(1, ""));
  bridges.Add(MakeBridge(2, "ANT"));
  bridges.Add(nullptr);
  EXPECT_EQ(bridges.GetSize(), 3U);

  const USBDeviceList<Described> named =
      bridges.Filter<Described>([](const Bridge& bridge) { return !bridge.product.empty(); });
  ASSERT_EQ(named.GetSize(), 2U);
  EXPECT_EQ(named[0].number, 0);
  EXPECT_EQ(named[1].number, 2);

  USBDeviceList<Described> all = named;
  all.Append(bridges.Filter([](const Bridge& bridge) { return bridge.product.empty(); }));
  ASSERT_EQ(all.GetSize(), 3U);
  EXPECT_EQ(all[2].number, 1);
  EXPECT_EQ(all.Get(3), nullptr);
  // The original list is untouched by what was made of it.
  EXPECT_EQ(bridges.GetSize(), 3U);
}

TEST(USBDeviceListTest, DevicesLiveAsLongAsAnyListHoldsThem) {
  USBDeviceList<Described> kept;
  {
    USBDeviceList<Bridge> listed;
    listed.Add(MakeBridge(7, "ANT"));
    kept.Append(listed);
  }
  ASSERT_EQ(kept.GetSize(), 1U);
  EXPECT_EQ(kept[0].number, 7);
  EXPECT_FALSE(kept.Empty());
}

}  // namespace
}  // namespace Pellux
