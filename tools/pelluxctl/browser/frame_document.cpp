#include "tools/pelluxctl/browser/frame_document.h"

#include <algorithm>
#include <array>

namespace Pellux {
namespace {

bool IsTagSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != lower[i]) return false;
  }
  return true;
}

// Whether `html` holds a form's start tag at `at` (its "<").
bool FormTagAt(std::string_view html, std::size_t at) {
  constexpr std::string_view kName = "form";
  if (html.size() - at < 1 + kName.size() ||
      !SameLetters(html.substr(at + 1, kName.size()), kName)) {
    return false;
  }
  const std::size_t after = at + 1 + kName.size();
  return after == html.size() || IsTagSpace(html[after]) || html[after] == '/' ||
         html[after] == '>';
}

// The attributes that say where and how a form goes: ours replace them.
bool IsReplacedAttribute(std::string_view name) {
  constexpr std::array<std::string_view, 4> kReplaced = {"action", "method", "target", "enctype"};
  return std::ranges::any_of(
      kReplaced, [name](std::string_view replaced) { return SameLetters(name, replaced); });
}

// Copies the attributes of the tag that starts at `at` (after its name) to `out`, leaving out
// the replaced ones, the way an HTML parser splits them. Returns the position after the tag's
// ">", or npos when the tag does not end.
std::size_t CopyAttributes(std::string_view html, std::size_t at, std::string& out) {
  std::size_t i = at;
  while (i < html.size()) {
    const std::size_t start = i;
    while (i < html.size() && (IsTagSpace(html[i]) || html[i] == '/')) ++i;
    if (i >= html.size()) return std::string_view::npos;
    // The blanks and slashes before the ">" are left out: ours come after the last attribute.
    if (html[i] == '>') return i + 1;
    const std::size_t nameStart = i;
    // A name runs to a blank, "/", ">" or "=" (not at its first byte).
    ++i;
    while (i < html.size() && !IsTagSpace(html[i]) && html[i] != '/' && html[i] != '>' &&
           html[i] != '=') {
      ++i;
    }
    const std::string_view name = html.substr(nameStart, i - nameStart);
    // What is copied of a kept attribute: up to its name's end, or its value's.
    std::size_t copyEnd = i;
    std::size_t j = i;
    while (j < html.size() && IsTagSpace(html[j])) ++j;
    if (j < html.size() && html[j] == '=') {
      ++j;
      while (j < html.size() && IsTagSpace(html[j])) ++j;
      const std::size_t value = j;
      if (j < html.size() && (html[j] == '"' || html[j] == '\'')) {
        const std::size_t close = html.find(html[j], j + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        j = close + 1;
      } else {
        while (j < html.size() && !IsTagSpace(html[j]) && html[j] != '>') ++j;
      }
      // An "=" with no value before the ">" gives an empty value; copied, it would take the
      // attribute written after it as its value: the name alone says the same.
      if (j > value) copyEnd = j;
      i = j;
    }
    // A name that starts with "=" (a parse error) would, after a blank, read as the value of
    // the attribute before it: such an attribute is left out too.
    if (!IsReplacedAttribute(name) && name.front() != '=') {
      // An attribute may follow a quoted value (or a "/") without a blank; with the one
      // before it left out, it would run into the one before that.
      if (!IsTagSpace(html[start])) out += ' ';
      out.append(html.substr(start, copyEnd - start));
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::string FrameDocument(std::string_view html, std::string_view formAction) {
  std::string out;
  out.reserve(html.size() + 128);
  std::size_t copied = 0;
  for (std::size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1)) {
    if (at < copied || !FormTagAt(html, at)) continue;
    std::string tag = "<form";
    const std::size_t end = CopyAttributes(html, at + 5, tag);
    // A tag that never ends is no form to a browser either: left as it is.
    if (end == std::string_view::npos) break;
    tag += " action=\"";
    tag += formAction;
    tag += "\" method=\"post\" enctype=\"application/x-www-form-urlencoded\">";
    out.append(html.substr(copied, at - copied));
    out += tag;
    copied = end;
  }
  out.append(html.substr(copied));
  return out;
}

}  // namespace Pellux
