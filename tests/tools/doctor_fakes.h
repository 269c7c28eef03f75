#pragma once

// Stand-ins for the doctor's probes: each answers what the test put in, and records what it
// was asked.

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "tools/pelluxctl/doctor/folder_access_probe.h"
#include "tools/pelluxctl/doctor/library_probe.h"
#include "tools/pelluxctl/doctor/process_probe.h"
#include "tools/pelluxctl/doctor/server_probe.h"
#include "tools/pelluxctl/doctor/service_probe.h"
#include "tools/pelluxctl/doctor/station_probe.h"
#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

class FakeServiceProbe final : public ServiceProbe {
 public:
  UnitFacts facts;
  std::vector<std::string> asked;
  UnitFacts Unit(const std::string& unit) override {
    asked.push_back(unit);
    return facts;
  }
};

class FakeStationProbe final : public StationProbe {
 public:
  StationListing listing;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> asked;
  StationListing Ports(std::uint16_t vendorId, std::uint16_t productId) override {
    asked.emplace_back(vendorId, productId);
    return listing;
  }
};

// Paths not put in are missing.
class FakeFileProbe final : public FileProbe {
 public:
  std::map<std::string, FileFacts> facts;
  std::map<std::string, FileText> texts;
  std::map<std::string, SpaceFacts> spaces;

  // A regular file with its text, owned by root:root, mode 0644.
  void AddFile(const std::string& path, const std::string& text) {
    FileFacts file;
    file.state = FileFacts::State::kPresent;
    file.regular = true;
    file.mode = 0644;
    facts[path] = file;
    FileText read;
    read.state = FileText::State::kRead;
    read.text = text;
    texts[path] = read;
  }
  // A character device.
  void AddDevice(const std::string& path, std::uint32_t owner, std::uint32_t group,
                 std::uint32_t mode, std::uint32_t major = 188, std::uint32_t minor = 0) {
    FileFacts device;
    device.state = FileFacts::State::kPresent;
    device.characterDevice = true;
    device.owner = owner;
    device.group = group;
    device.mode = mode;
    device.major = major;
    device.minor = minor;
    facts[path] = device;
  }

  FileFacts Status(const std::string& path) override {
    const auto found = facts.find(path);
    if (found != facts.end()) return found->second;
    FileFacts missing;
    missing.state = FileFacts::State::kMissing;
    return missing;
  }
  FileText Read(const std::string& path, std::size_t /*maxBytes*/) override {
    const auto found = texts.find(path);
    if (found != texts.end()) return found->second;
    FileText missing;
    missing.state = FileText::State::kMissing;
    return missing;
  }
  SpaceFacts Space(const std::string& path) override {
    const auto found = spaces.find(path);
    if (found != spaces.end()) return found->second;
    SpaceFacts unknown;
    unknown.error = "statvfs(" + path + ") failed: not in the test";
    return unknown;
  }
};

class FakeAccountProbe final : public AccountProbe {
 public:
  std::map<std::string, UserFacts> users;
  std::map<std::string, GroupFacts> groups;

  void AddUser(const std::string& name, std::uint32_t uid, std::uint32_t gid,
               std::vector<std::uint32_t> memberOf) {
    UserFacts user;
    user.state = UserFacts::State::kFound;
    user.uid = uid;
    user.gid = gid;
    user.groups = std::move(memberOf);
    users[name] = user;
  }
  void AddGroup(const std::string& name, std::uint32_t gid) {
    GroupFacts group;
    group.state = GroupFacts::State::kFound;
    group.gid = gid;
    groups[name] = group;
  }

  UserFacts User(const std::string& name) override {
    const auto found = users.find(name);
    if (found != users.end()) return found->second;
    UserFacts missing;
    missing.state = UserFacts::State::kMissing;
    return missing;
  }
  GroupFacts Group(const std::string& name) override {
    const auto found = groups.find(name);
    if (found != groups.end()) return found->second;
    GroupFacts missing;
    missing.state = GroupFacts::State::kMissing;
    return missing;
  }
};

class FakeProcessProbe final : public ProcessProbe {
 public:
  // Holders by node; running processes by name.
  std::map<std::string, ProcessListing> holders;
  std::map<std::string, std::vector<ProcessFacts>> running;
  bool listed = true;

  ProcessListing Holders(const std::string& node) override {
    const auto found = holders.find(node);
    if (found != holders.end()) return found->second;
    return Listing({});
  }
  ProcessListing Named(const std::string& name) override {
    const auto found = running.find(name);
    return Listing(found == running.end() ? std::vector<ProcessFacts>{} : found->second);
  }

 private:
  ProcessListing Listing(std::vector<ProcessFacts> processes) const {
    ProcessListing listing;
    listing.listed = listed;
    if (!listed) listing.error = "opendir(/proc) failed: errno 13 (Permission denied) [EACCES]";
    if (listed) listing.processes = std::move(processes);
    return listing;
  }
};

// Libraries by file name; those not put in are missing.
class FakeLibraryProbe final : public LibraryProbe {
 public:
  std::map<std::string, LibraryFacts> libraries;
  std::uint16_t machine = 0x014c;
  std::vector<std::string> asked;

  // A library of `machine` that loads.
  void AddLoadable(const std::string& file, std::uint16_t of) {
    LibraryFacts& facts = libraries[file];
    facts.state = LibraryFacts::State::kPresent;
    facts.image = PortableExecutableHeader{of, true};
    facts.loaded = of == machine;
  }
  LibraryFacts Inspect(const std::string& folder, const std::string& file) override {
    asked.push_back(folder + file);
    const auto found = libraries.find(file);
    if (found != libraries.end()) return found->second;
    LibraryFacts missing;
    missing.state = LibraryFacts::State::kMissing;
    missing.error = "CreateFileW(" + folder + file + ") failed: error 2";
    return missing;
  }
  std::uint16_t ProgramMachine() override { return machine; }
};

class FakeFolderAccessProbe final : public FolderAccessProbe {
 public:
  FolderAccess access;
  std::vector<std::string> asked;
  FolderAccess Read(const std::string& path) override {
    asked.push_back(path);
    return access;
  }
};

class FakeServerProbe final : public ServerProbe {
 public:
  ServerAnswer answer;
  std::vector<ServerTarget> asked;
  ServerAnswer Probe(const ServerTarget& target, std::chrono::milliseconds /*timeout*/) override {
    asked.push_back(target);
    return answer;
  }
};

// The service's end as a script: what Send returns, and the replies Receive hands out one by
// one (then nothing, as a service that stays silent).
class FakeConnection final : public UiConnection {
 public:
  SendResult sendResult = SendResult::kSent;
  std::string sendError;
  std::deque<std::string> replies;
  // What each Receive says once the replies are used up (empty: nothing came, no failure).
  std::string receiveError;
  std::vector<std::string> sent;

  [[nodiscard]] const std::string& ReplyName() const override { return reply_; }
  SendResult Send(const std::string& message, std::string& error) override {
    sent.push_back(message);
    error = sendError;
    return sendResult;
  }
  std::optional<std::string> Receive(std::chrono::milliseconds /*timeout*/,
                                     std::string& error) override {
    error.clear();
    if (replies.empty()) {
      error = receiveError;
      return std::nullopt;
    }
    std::string reply = replies.front();
    replies.pop_front();
    return reply;
  }

 private:
  std::string reply_ = "@doctor-test";
};

}  // namespace Pellux
