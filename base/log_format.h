#pragma once

#include <boost/format.hpp>
#include <locale>
#include <string>

namespace Pellux {

// std::ctype<char>::narrow fills a per-character cache the first time each character is asked
// for, and boost::format asks for every character of a format. Two threads formatting their
// first lines at once would both write that cache; filling it once, before any line is bound,
// leaves only reads.
// One fill for the whole program: a static of this non-template inline function is a single
// object, where one in FormatLine would be one per instantiation.
inline void FillNarrowCacheOnce() {
  static const bool filled = [] {
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
    for (int c = 0; c < 256; ++c) {
      (void)ctype.narrow(static_cast<char>(c), 0);
    }
    return true;
  }();
  (void)filled;
}

// Binds printf-style arguments to one of our own constant formats. Outside text (server
// messages, serials, UI words) is only ever an argument, never the format, so a "%" in it is
// printed as it stands. Argument-count mistakes do not throw: the line is still logged.
template <typename... Args>
boost::format FormatLine(const char* format, const Args&... args) {
  FillNarrowCacheOnce();
  boost::format line(format);
  line.exceptions(boost::io::all_error_bits &
                  ~(boost::io::too_many_args_bit | boost::io::too_few_args_bit));
  ((void)(line % args), ...);
  return line;
}

// The text of a bound line. A line whose arguments do not fit its format must not take the
// caller down with it: it is logged as unrenderable, with the reason.
inline std::string RenderLine(const boost::format& line) {
  try {
    return line.str();
  } catch (const boost::io::format_error& error) {
    return std::string("(unrenderable log line: ") + error.what() + ")";
  }
}

}  // namespace Pellux
