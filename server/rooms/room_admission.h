#pragma once
// Who may enter which room, decided from the handshake's query: room id rules, the colour
// text, and percent-decoding of the query itself.

#include <optional>
#include <string>
#include <string_view>

namespace vellumora::server {

struct RoomId {
    enum class Kind { solo, dm };
    Kind kind;
    std::string first;   // solo: the owner; dm: the smaller id (byte order)
    std::string second;  // dm only
};

// "solo:<id>" or "dm:<a>:<b>" with a < b; none for anything else.
std::optional<RoomId> parseRoomId(std::string_view text);

// The colour to announce: `text` when it is "#RRGGBB", else "#888888".
std::string peerColor(std::string_view text);

// The decoded value of `key` in a URL query ("a=1&b=2"); none when absent or badly encoded.
std::optional<std::string> queryValue(std::string_view query, std::string_view key);

}  // namespace vellumora::server
