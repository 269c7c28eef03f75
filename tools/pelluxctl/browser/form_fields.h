#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Pellux {

// A form's fields in the order the browser sent them: name and value, as bytes.
using FormFields = std::vector<std::pair<std::string, std::string>>;

// Reads a body of "application/x-www-form-urlencoded" as browsers write it: pairs joined by
// "&", "+" for a blank, "%" and two hex digits (either case) for any byte; a pair without "="
// is a name with an empty value, empty pairs are skipped. Nullopt, with the reason in `why`,
// for a "%" without two hex digits after it. Pure.
std::optional<FormFields> DecodeBrowserForm(std::string_view body, std::string* why = nullptr);

// The fields as the service takes form data (the F message) and posts it to the server: each
// name and value through FormEscape, "name=value" pairs joined by "&". Pure.
std::string EncodeFormFields(const FormFields& fields);

}  // namespace Pellux
