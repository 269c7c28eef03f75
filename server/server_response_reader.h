#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/server_response.h"

namespace Pellux {

// The deepest element nesting a server document may have. Real documents nest five levels; the
// XML library descends recursively, so a document nested without bound would exhaust the
// stack of the thread that reads it.
inline constexpr int kMaxDocumentDepth = 256;

// Reads one server document into `response`, which holds the defaults on entry. A bad value never
// fails the read: it keeps its default and adds one text to `warnings`, in document order.
// Returns false when the text is no readable document (then `errorText`, if given, says why,
// and `response` and `warnings` are left as they were).
bool ParseServerResponse(std::string_view text, ServerResponse& response,
                         std::vector<std::string>& warnings, std::string* errorText = nullptr);

// The deepest element nesting of an XML text, as the XML library would descend it, without
// parsing it; counting stops once `limit` is exceeded.
int XmlNestingDepth(std::string_view text, int limit);

}  // namespace Pellux
