#include "packaging/windows/setup_action_data.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace Pellux {
namespace {

// The longest path a folder may have, with room for a file name after it: the system's limit
// for a path without the "\\?\" prefix is 260 characters, and the program folder's files are
// loaded by such paths.
constexpr std::size_t kFolderLimit = 200;

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

std::optional<VendorCopyData> SplitVendorCopyData(std::string_view data) {
  const std::size_t bar = data.rfind('|');
  if (bar == std::string_view::npos) return std::nullopt;
  return VendorCopyData{std::string(data.substr(0, bar)), std::string(data.substr(bar + 1))};
}

std::optional<std::string> CheckedFolder(std::string_view folder, std::string& why) {
  const std::string shown = "\"" + std::string(folder.substr(0, kFolderLimit)) + "\"";
  if (folder.empty()) {
    why = "no folder given";
    return std::nullopt;
  }
  if (folder.size() > kFolderLimit) {
    why = shown.substr(0, shown.size() - 1) + "...\" is longer than " +
          std::to_string(kFolderLimit) + " characters";
    return std::nullopt;
  }
  for (const char c : folder) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("<>\"|?*").find(c) != std::string_view::npos) {
      why = "the folder name holds a character no Windows path may hold";
      return std::nullopt;
    }
  }
  const bool drive =
      folder.size() >= 3 && IsLetter(folder[0]) && folder[1] == ':' && IsSeparator(folder[2]);
  const bool unc = folder.size() >= 2 && IsSeparator(folder[0]) && IsSeparator(folder[1]);
  if (!drive && !unc) {
    why = shown + " is no absolute path (a drive's \"X:\\...\" or a share's \"\\\\server\\...\")";
    return std::nullopt;
  }
  if (folder.find(':', drive ? 2 : 0) != std::string_view::npos) {
    why = shown + " holds a ':' past its drive (a stream or a device name)";
    return std::nullopt;
  }
  // The steps between separators: none may be "." or "..", and a share needs its server and
  // its share name ("\\?\" and "\\.\" name devices and raw paths: their server is "?" or ".").
  std::vector<std::string_view> steps;
  std::size_t start = drive ? 3 : 2;
  while (start <= folder.size()) {
    std::size_t end = start;
    while (end < folder.size() && !IsSeparator(folder[end])) ++end;
    steps.push_back(folder.substr(start, end - start));
    start = end + 1;
  }
  while (!steps.empty() && steps.back().empty()) steps.pop_back();
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string_view step = steps[i];
    if (step == "." || step == "..") {
      why = shown + " has a \".\" or \"..\" step";
      return std::nullopt;
    }
    // "C:\a\\b", or a share without its server ("\\\share").
    if (step.empty()) {
      why = shown + " has an empty step";
      return std::nullopt;
    }
  }
  if (unc && steps.size() < 2) {
    why = shown + " names no share (\"\\\\server\\share\\...\")";
    return std::nullopt;
  }
  std::string checked(folder);
  std::replace(checked.begin(), checked.end(), '/', '\\');
  while (checked.size() > (drive ? 3U : 2U) && checked.back() == '\\') checked.pop_back();
  if (checked.back() != '\\') checked += '\\';
  return checked;
}

std::string ServiceProgramPath(const std::string& folder) {
  return folder + "uplinker.exe";
}

std::string ServiceImagePath(const std::string& folder) {
  return "\"" + ServiceProgramPath(folder) + "\"";
}

std::string ServiceSwitchCommand(const std::string& folder, std::string_view which) {
  return ServiceImagePath(folder) + " " + std::string(which);
}

bool IsServiceImagePath(std::string_view registered, const std::string& folder) {
  const std::string expected = ServiceImagePath(folder);
  return registered.size() == expected.size() &&
         std::equal(registered.begin(), registered.end(), expected.begin(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}

}  // namespace Pellux
