// pelluxctl ui's way to the user's browser on Windows: the shell's "open" of the address.
// Under Wine the shell hands an http address to winebrowser, which starts the browsers its
// registry names: here a stand-in Linux program that notes the address.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "tools/pelluxctl/browser/browser_opener.h"

namespace Pellux {
namespace {

// The stand-in's note, as Wine's drive Z: (the Linux root) names it.
std::string LogPath() {
  std::string path = std::string("Z:") + FAKE_BROWSER_LOG;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string Log() {
  std::ifstream file(LogPath());
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(BrowserOpenerTest, TheShellOpensTheAddressInTheBrowserWineNames) {
  DeleteFileA(LogPath().c_str());
  const std::string browser = FAKE_BROWSER;
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", "Browsers", REG_SZ,
                            browser.c_str(), static_cast<DWORD>(browser.size() + 1)),
            ERROR_SUCCESS);
  const std::string url = "http://127.0.0.1:9/0123456789abcdef0123456789abcdef/";
  std::string error;
  BrowserOpener opener;
  EXPECT_TRUE(opener.Open(url, error)) << error;
  // winebrowser runs on its own: its note is waited for.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Log().empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(Log(), url + "\n");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", "Browsers");
}

}  // namespace
}  // namespace Pellux
