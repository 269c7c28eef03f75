#pragma once

#include <string>

#include "ui/log/log_folder.h"

namespace Pellux {

// The activity log's folder on Windows: "Pellux\Tracker\logs" in the all-users application
// data folder (ProgramData).
//
// The service writes and deletes there as LocalSystem, and any user may create folders in
// ProgramData: a user who made "Pellux" (or a folder below it) first, or made one of them a
// junction or symbolic link, would choose where LocalSystem creates and deletes files. So the
// three folders are made with an access list of their own (kFolderSddl), and a folder already
// there is used only when it is a real folder (no reparse point), is reached at the place its
// path names, and is owned by LocalSystem, the administrators or the account this process runs
// as. Every file is created and deleted through a handle that does not follow a link in its
// last step, and only once the handle's final path is found inside the log folder.
//
// A folder or file refused for these reasons fails with ERROR_ACCESS_DENIED and a line that
// starts with kRefused and names the path and the reason; failures of the system's calls carry
// the call, the code and the system's text.
class AppDataLogFolder final : public LogFolder {
 public:
  // The access list of the three folders, inherited by what they hold: LocalSystem and the
  // administrators have full control, users may read and list; protected, so nothing of
  // ProgramData's list (where users may create) is inherited. The owner is left to the
  // creating account: LocalSystem's own default.
  static constexpr const char* kFolderSddl =
      "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  // The start of every refusal's line.
  static constexpr const char* kRefused = "refused: ";

  // With an empty `baseFolder` the folder lives in the all-users application data folder, found
  // anew at each call as the shell reports it; tests give a folder of their own instead.
  explicit AppDataLogFolder(std::string baseFolder = "");

  bool Locate(std::string& path, FolderFailure& failure) override;
  // Creates the base folder when it is missing (only a test's is), then each of the three
  // folders with kFolderSddl; each, new or found, must pass the checks above.
  bool Create(FolderFailure& failure) override;
  // Lists only when each of the three folders passes the checks; links named like log files
  // are left out where the system marks them as such.
  bool List(std::vector<Entry>& files, FolderFailure& failure) override;
  // Deletes through a handle of its own, and only a file (not a link) directly in the log
  // folder.
  bool Remove(const std::string& path, FolderFailure& failure) override;
  // A file whose handle turns out to lie outside the log folder (a folder on its path was
  // swapped for a link) is deleted again through that handle and not used.
  CreateResult CreateNew(const std::string& name, std::unique_ptr<LogFile>& file, std::string& path,
                         FolderFailure& failure) override;

  // The path of the log folder below `baseFolder`.
  static std::string LogFolderBelow(const std::string& baseFolder);

  // Whether a folder owned by `ownerSid` may hold the log: LocalSystem (S-1-5-18), the
  // administrators (S-1-5-32-544), or `processUserSid`, the account this process runs as
  // (LocalSystem for the service; the user who runs it by hand, or every program under Wine).
  // SIDs in their string form.
  static bool IsTrustedOwner(const std::string& ownerSid, const std::string& processUserSid);

 private:
  // The base folder: the test's, or the all-users application data folder.
  bool Base(std::string& base, FolderFailure& failure) const;

  const std::string baseFolder_;
};

}  // namespace Pellux
