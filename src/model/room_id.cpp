#include "model/room_id.h"

namespace vellumora {

namespace {

constexpr std::size_t kMaxUserIdBytes = 64;

bool validUserIdText(std::string_view id) {
    if (id.empty() || id.size() > kMaxUserIdBytes) return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::string soloRoomId(std::string_view userId) {
    return "solo:" + std::string(userId);
}

std::string dmRoomId(std::string_view userId, std::string_view friendId) {
    // std::string_view compares bytes, so UTF-8 ids sort in code-point order.
    const bool userFirst = userId < friendId;
    std::string id = "dm:";
    id += userFirst ? userId : friendId;
    id += ':';
    id += userFirst ? friendId : userId;
    return id;
}

std::optional<RoomId> parseRoomId(std::string_view text) {
    if (text.starts_with("solo:")) {
        std::string_view owner = text.substr(5);
        if (!validUserIdText(owner)) return std::nullopt;
        return RoomId{RoomId::Kind::solo, std::string(owner), {}};
    }
    if (text.starts_with("dm:")) {
        std::string_view rest = text.substr(3);
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        std::string_view a = rest.substr(0, colon);
        std::string_view b = rest.substr(colon + 1);
        if (!validUserIdText(a) || !validUserIdText(b) || !(a < b)) return std::nullopt;
        return RoomId{RoomId::Kind::dm, std::string(a), std::string(b)};
    }
    return std::nullopt;
}

}  // namespace vellumora
