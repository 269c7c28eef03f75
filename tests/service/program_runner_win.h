#pragma once

// Runs the programs of the service tests under Wine: a program beside the test program, with
// its standard output and error captured.

#include <windows.h>

#include <string>

namespace Pellux {

// The program `name` in this test program's folder.
inline std::string ProgramBeside(const std::string& name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  return folder.substr(0, folder.find_last_of('\\')) + "\\" + name;
}

struct Ran {
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

inline std::string ReadAll(HANDLE pipe) {
  std::string text;
  char piece[4096];
  DWORD read = 0;
  while (ReadFile(pipe, piece, sizeof piece, &read, nullptr) != 0 && read > 0) {
    text.append(piece, read);
  }
  return text;
}

// Runs `program` with `arguments`, its two output streams captured (line ends as "\n").
inline Ran RunProgramAt(const std::string& program, const std::string& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr;
  HANDLE outWrite = nullptr;
  HANDLE errRead = nullptr;
  HANDLE errWrite = nullptr;
  CreatePipe(&outRead, &outWrite, &inherit, 0);
  CreatePipe(&errRead, &errWrite, &inherit, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::string commandLine = "\"" + program + "\" " + arguments;
  PROCESS_INFORMATION process{};
  Ran ran;
  const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (started == 0) {
    ran.exitCode = 0xFFFFFFFF;
  } else {
    ran.out = ReadAll(outRead);
    ran.err = ReadAll(errRead);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &ran.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  // The C runtime writes its streams in text mode: "\r\n" for each line end.
  for (std::string* text : {&ran.out, &ran.err}) {
    for (auto at = text->find("\r\n"); at != std::string::npos; at = text->find("\r\n", at)) {
      text->erase(at, 1);
    }
  }
  return ran;
}

}  // namespace Pellux
