#pragma once

#include <string_view>

namespace Pellux {

// The browser page of `pelluxctl ui`: ui_page.html, compiled in. Every "{{nonce}}" in it is
// replaced by the nonce of the response's Content-Security-Policy.
extern const std::string_view kUiPageHtml;

}  // namespace Pellux
