#pragma once
// Room ids, built by the client and checked by the server from the same rules: a sketchbook
// is "solo:" + its owner's id; the room of two friends is "dm:" + their ids in byte order,
// joined by ':', so both compute the same id.

#include <optional>
#include <string>
#include <string_view>

namespace vellumora {

std::string soloRoomId(std::string_view userId);
std::string dmRoomId(std::string_view userId, std::string_view friendId);

struct RoomId {
    enum class Kind { solo, dm };
    Kind kind;
    std::string first;   // solo: the owner; dm: the smaller id (byte order)
    std::string second;  // dm only
};

// "solo:<id>" or "dm:<a>:<b>" with a < b and ids of [A-Za-z0-9_-], 1 to 64 bytes; none for
// anything else.
std::optional<RoomId> parseRoomId(std::string_view text);

}  // namespace vellumora
