#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Pellux {

// A program the demo runs as its child: started with more environment variables, its standard
// output and error on pipes read line by line, ended with SIGTERM and reaped. Not thread-safe:
// one thread reads each stream.
class ChildProgram {
 public:
  enum class Stream { kOut, kErr };

  ChildProgram(std::vector<std::string> arguments,
               const std::vector<std::pair<std::string, std::string>>& environment = {});
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;
  // Ends the program if it still runs.
  ~ChildProgram();

  // Empty when it started; else why not.
  [[nodiscard]] const std::string& Error() const { return error_; }
  // The next line of `stream` without its end; nullopt when none came within `timeout` or the
  // stream ended.
  std::optional<std::string> ReadLine(Stream stream, std::chrono::milliseconds timeout);
  // SIGTERM, then waits for the exit; its exit code (-1 when it ended otherwise).
  int Stop();

 private:
  struct Pipe {
    int fd = -1;
    std::string buffered;
  };
  Pipe& Of(Stream stream) { return stream == Stream::kOut ? out_ : err_; }

  pid_t child_ = 0;
  Pipe out_;
  Pipe err_;
  std::string error_;
  int status_ = -1;
};

}  // namespace Pellux
