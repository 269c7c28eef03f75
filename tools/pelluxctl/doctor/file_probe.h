#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace Pellux {

// What a path is, without opening it.
struct FileFacts {
  enum class State { kPresent, kMissing, kFailed };
  State state = State::kFailed;
  // For kFailed: the call, the code and the system's text.
  std::string error;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  // The permission bits (0660).
  std::uint32_t mode = 0;
  bool regular = false;
  bool characterDevice = false;
  // A device node's numbers.
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

// A whole small file's text.
struct FileText {
  enum class State { kRead, kMissing, kTooLarge, kFailed };
  State state = State::kFailed;
  std::string text;
  // For kFailed: the call, the code and the system's text; `denied` when it was a permission.
  std::string error;
  bool denied = false;
};

// The space left on the file system that holds a path.
struct SpaceFacts {
  bool measured = false;
  std::string error;
  std::uint64_t available = 0;  // bytes an unprivileged writer may still use
  std::uint64_t total = 0;
};

// Looks at files and file systems. Called by `pelluxctl doctor` on its one thread.
class FileProbe {
 public:
  FileProbe() = default;
  FileProbe(const FileProbe&) = delete;
  FileProbe& operator=(const FileProbe&) = delete;
  virtual ~FileProbe() = default;

  // What `path` is, following symbolic links.
  virtual FileFacts Status(const std::string& path) = 0;
  // The text of a regular file of at most `maxBytes` bytes (kTooLarge past that; a file that is
  // no regular file is kFailed).
  virtual FileText Read(const std::string& path, std::size_t maxBytes) = 0;
  // The space on the file system of `path`, which must exist.
  virtual SpaceFacts Space(const std::string& path) = 0;

  static std::unique_ptr<FileProbe> CreateForPlatform();
};

}  // namespace Pellux
