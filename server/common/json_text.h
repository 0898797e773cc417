#pragma once
// The little JSON the REST side reads: one string member of a flat request object. Answers
// are written with the codec's json::Writer, the one JSON escaper in the tree.

#include <optional>
#include <string>
#include <string_view>

namespace vellumora::server {

// The string member `key` of the JSON object `body`. None when the body is not a valid
// JSON object (or not UTF-8), or the member is missing or not a string.
std::optional<std::string> stringMember(std::string_view body, std::string_view key);

// {"error": message}
std::string errorBody(std::string_view message);

}  // namespace vellumora::server
