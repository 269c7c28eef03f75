#include <gtest/gtest.h>

#include <string>

#include "device/cm_library_win.h"
#include "device/libusb_library_win.h"
#include "device/silabs_library_win.h"
#include "packaging/windows/setup_action_data.h"

namespace Pellux {
namespace {

std::string Narrow(const wchar_t* wide) {
  std::string narrow;
  for (; *wide != L'\0'; ++wide) narrow += static_cast<char>(*wide);
  return narrow;
}

// The installer copies exactly the files the service loads: a name that drifted would install a
// library the service never loads and leave its family absent.
TEST(SetupLibraryNamesTest, TheInstallerCopiesTheFilesTheServiceLoads) {
  ASSERT_EQ(std::size(kBridgeLibraryFiles), 3U);
  EXPECT_EQ(kBridgeLibraryFiles[0].name, Narrow(SiLabsLibrary::kFileName));
  EXPECT_EQ(kBridgeLibraryFiles[1].name, Narrow(CMLibrary::kFileName));
  EXPECT_EQ(kBridgeLibraryFiles[2].name, Narrow(LibusbLibrary::kFileName));
}

}  // namespace
}  // namespace Pellux
