#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace Pellux {

// GETs `url` from a program of the Linux side, outside the test's process: Python's urllib, run
// as a child on Linux and, under Wine, as a native Linux process that Wine starts for us. The
// answer as "<status> <body>", or nullopt (said on standard error) when the program could not
// be run or gave nothing within 30 s.
std::optional<std::string> FetchFromLinuxSide(const std::string& url);

// The program both use: reads the URL in argv[1], writes "<status> <body>" to argv[2].
inline constexpr const char* kLinuxSideFetchScript =
    "import os, sys, urllib.error, urllib.request\n"
    "try:\n"
    "    reply = urllib.request.urlopen(sys.argv[1], timeout=10)\n"
    "    status, body = reply.status, reply.read()\n"
    "except urllib.error.HTTPError as error:\n"
    "    status, body = error.code, error.read()\n"
    "with open(sys.argv[2] + '.part', 'wb') as out:\n"
    "    out.write(b'%d ' % status + body)\n"
    "os.rename(sys.argv[2] + '.part', sys.argv[2])\n";

// The answer the program left at `out`, which is removed; nullopt (said on standard error with
// `why`) when there is none.
std::optional<std::string> TakeFetchAnswer(const std::filesystem::path& out,
                                           const std::string& why);

}  // namespace Pellux
