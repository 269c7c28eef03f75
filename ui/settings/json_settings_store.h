#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "ui/settings/settings_store.h"

namespace Pellux {

// Settings in one JSON file, one object per section:
//   {"Tracker": {"ServerPort": 8001, "ServerHost": "example"}}
// Numbers are JSON integers from 0 to 4294967295, texts are JSON strings; anything else reads
// as unset. The file is read again at every call, so an administrator's edit counts from the
// next read on, and every write replaces the whole file atomically. A file that cannot be parsed
// is renamed aside and reported, never overwritten: the store then starts empty.
class JsonSettingsStore final : public SettingsStore {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  // Writes the whole file; false with `error` filled when the old file was left as it was.
  using FileReplacer =
      std::function<bool(const std::string& path, const std::string& contents, std::string& error)>;

  // Files larger than this are no settings file of ours (ours holds a few short values).
  static constexpr std::size_t kMaxFileBytes = std::size_t{1024} * 1024;
  // Our files nest two levels deep; a deeper one is treated as unparseable, since writing it
  // back out would recurse once per level.
  static constexpr int kMaxDepth = 32;

  // `now` names the set-aside copy of a corrupt file; `replaceFile` is ReplaceFileAtomically
  // except in tests that need a write to fail.
  JsonSettingsStore(std::string path, Reporter reporter, Clock now = std::chrono::system_clock::now,
                    FileReplacer replaceFile = {});

  std::optional<std::uint32_t> ReadNumber(const std::string& section,
                                          const std::string& name) override;
  std::optional<std::string> ReadText(const std::string& section, const std::string& name) override;
  bool WriteNumber(const std::string& section, const std::string& name,
                   std::uint32_t value) override;
  bool WriteText(const std::string& section, const std::string& name,
                 const std::string& value) override;
  // A value of that name that does not read as `kind` (what the reads report as unset); quiet,
  // since the read that found it has said so. A section that is no object holds nothing: the
  // next write replaces it, reported.
  bool HoldsUnusable(const std::string& section, const std::string& name, Kind kind) override;

 private:
  // The stored value, or nothing (reported when it is there but unusable). Lock held.
  std::optional<nlohmann::json> FindValue(const std::string& section, const std::string& name);
  // The file's document: an empty object when there is no file (or a corrupt one was just set
  // aside), nothing when the file is there but could not be read or set aside. Lock held.
  std::optional<nlohmann::json> Load();
  bool SetAside(const std::string& why);
  bool Write(const std::string& section, const std::string& name, const nlohmann::json& value);
  void Report(const std::string& line);

  const std::string path_;
  const Reporter reporter_;
  const Clock now_;
  const FileReplacer replaceFile_;
  std::mutex mutex_;
};

// Where the Linux daemon keeps its settings: in the first of the directories systemd hands over
// in STATE_DIRECTORY (`stateDirectoryEnv`, which may list several separated by ':'), else in
// /var/lib/pellux.
std::string DefaultSettingsPath(const char* stateDirectoryEnv);

}  // namespace Pellux
