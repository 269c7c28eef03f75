// The mocked systemd manager the Linux tests run against (tests/support/systemd_manager_mock.py)
// follows org.freedesktop.systemd1(5): a client that reads a property through another interface
// than the one systemd documents for it, or takes an object path of its own making, fails here
// as it fails against systemd.

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/mocked_system_bus_linux.h"

namespace Pellux {
namespace {

constexpr const char* kSystemd = "org.freedesktop.systemd1";
constexpr const char* kManagerObject = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnit = "org.freedesktop.systemd1.Unit";
constexpr const char* kService = "org.freedesktop.systemd1.Service";

class MockedSystemdManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(system.Ready());
    ASSERT_TRUE(system.AddSystemdUnit("pellux.service"));
  }

  // A text property, or nothing with the bus error's name in `failure`.
  std::optional<std::string> Text(const std::string& object, const char* interface,
                                  const char* property) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* value = nullptr;
    std::optional<std::string> text;
    if (sd_bus_get_property_string(system.Bus(), kSystemd, object.c_str(), interface, property,
                                   &error, &value) >= 0) {
      text = value;
    } else {
      failure = error.name != nullptr ? error.name : "";
    }
    free(value);
    sd_bus_error_free(&error);
    return text;
  }

  // The manager's answer to `method` with the unit name: the object path, or the error's name.
  std::string CallWithUnit(const char* method, const char* signature, const char* unit) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    const int called = std::string(signature) == "s"
                           ? sd_bus_call_method(system.Bus(), kSystemd, kManagerObject, kManager,
                                                method, &error, &reply, "s", unit)
                           : sd_bus_call_method(system.Bus(), kSystemd, kManagerObject, kManager,
                                                method, &error, &reply, "ss", unit, "replace");
    std::string answer;
    const char* path = nullptr;
    if (called >= 0 && sd_bus_message_read(reply, "o", &path) >= 0) {
      answer = path;
    } else {
      answer = error.name != nullptr ? error.name : "(no error)";
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return answer;
  }

  MockedSystemBus system{"mock", "systemd", kSystemd};
  std::string failure;
};

TEST_F(MockedSystemdManagerTest, UnitsHaveTheObjectPathsSystemdGivesThem) {
  EXPECT_EQ(SystemdUnitObject("pellux.service"), "/org/freedesktop/systemd1/unit/pellux_2eservice");
  EXPECT_EQ(CallWithUnit("GetUnit", "s", "pellux.service"), SystemdUnitObject("pellux.service"));
  // A template's instance has a valid path too ('@' and '-' escaped).
  ASSERT_TRUE(system.AddSystemdUnit("pellux-rebooter@10c4-84c4-1234.service"));
  EXPECT_EQ(CallWithUnit("GetUnit", "s", "pellux-rebooter@10c4-84c4-1234.service"),
            "/org/freedesktop/systemd1/unit/pellux_2drebooter_4010c4_2d84c4_2d1234_2eservice");
  // Jobs live under .../job/<id>, as systemd names them.
  EXPECT_EQ(
      CallWithUnit("StartUnit", "ss", "pellux.service").rfind("/org/freedesktop/systemd1/job/", 0),
      0U);
}

TEST_F(MockedSystemdManagerTest, EachPropertyIsOnTheInterfaceSystemdDocuments) {
  const std::string unit = SystemdUnitObject("pellux.service");
  struct Row {
    const char* interface;
    const char* property;
    bool readable;
  };
  for (const Row& row :
       {Row{kUnit, "Id", true}, Row{kUnit, "ActiveState", true}, Row{kUnit, "SubState", true},
        Row{kUnit, "LoadState", true}, Row{kService, "ControlGroup", true},
        Row{kService, "Type", true}, Row{kUnit, "ControlGroup", false},
        Row{kService, "ActiveState", false}, Row{kService, "Id", false}}) {
    SCOPED_TRACE(std::string(row.interface) + "." + row.property);
    failure.clear();
    EXPECT_EQ(Text(unit, row.interface, row.property).has_value(), row.readable) << failure;
  }
}

TEST_F(MockedSystemdManagerTest, StartAndStopChangeTheStateAndTheControlGroup) {
  const std::string unit = SystemdUnitObject("pellux.service");
  EXPECT_EQ(Text(unit, kUnit, "ActiveState"), "inactive");
  EXPECT_EQ(Text(unit, kService, "ControlGroup"), "");
  CallWithUnit("StartUnit", "ss", "pellux.service");
  EXPECT_EQ(Text(unit, kUnit, "ActiveState"), "active");
  EXPECT_EQ(Text(unit, kService, "ControlGroup"), "/system.slice/pellux.service");
  CallWithUnit("StopUnit", "ss", "pellux.service");
  EXPECT_EQ(Text(unit, kUnit, "ActiveState"), "inactive");
  EXPECT_EQ(Text(unit, kService, "ControlGroup"), "") << "no process, no group";
}

TEST_F(MockedSystemdManagerTest, AUnitItDoesNotKnowIsNoSuchUnit) {
  for (const char* method : {"GetUnit", "StartUnit", "StopUnit"}) {
    SCOPED_TRACE(method);
    EXPECT_EQ(CallWithUnit(method, std::string(method) == "GetUnit" ? "s" : "ss", "other.service"),
              "org.freedesktop.systemd1.NoSuchUnit");
  }
}

}  // namespace
}  // namespace Pellux
