#pragma once
// The little JSON the REST side needs: writing strings, reading flat request objects.

#include <optional>
#include <string>
#include <string_view>

namespace vellumora::server {

// Appends `text` as a JSON string literal (quotes included).
void appendJsonString(std::string& out, std::string_view text);
std::string jsonString(std::string_view text);

// The string member `key` of the JSON object `body`. None when the body is not a valid
// JSON object (or not UTF-8), or the member is missing or not a string.
std::optional<std::string> stringMember(std::string_view body, std::string_view key);

// {"error": message}
std::string errorBody(std::string_view message);

}  // namespace vellumora::server
