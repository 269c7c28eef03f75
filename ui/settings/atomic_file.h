#pragma once

#include <cstddef>
#include <string>

namespace Pellux {

// Replaces the file at `path` with `contents` so that a reader, or the file after a crash or a
// power cut, holds either the old contents or the new ones, never a mix: the bytes go to a
// fresh file beside the target, are flushed to the disk, and the fresh file is renamed over the
// target. A new file is readable by its owner only (settings may hold proxy credentials); a
// replaced file keeps its permission bits.
//
// Returns false when the target was left untouched; `error` then names the failing call with the
// system's code and text, and no temporary file remains. Returns true once the new contents are
// in place; `error` is then empty, or tells that the rename could not be flushed to the disk (a
// crash may still bring back the old contents), which the caller may log.
bool ReplaceFileAtomically(const std::string& path, const std::string& contents,
                           std::string& error);

enum class FileReadResult { kRead, kMissing, kFailed };

// Reads the whole regular file at `path` into `contents`, at most `maxBytes + 1` bytes of it, so
// that a caller can tell a file that is too large without holding all of it. kMissing when no
// file is there; kFailed, with `error` naming the failing call and the system's code and text,
// when the path cannot be read or is not a regular file (a directory, a pipe, a device).
FileReadResult ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents,
                             std::string& error);

}  // namespace Pellux
