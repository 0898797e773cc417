#include "rooms/room_admission.h"

#include "accounts/credentials.h"
#include "common/log.h"

namespace vellumora::server {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string peerColor(std::string_view text) {
    if (text.size() == 7 && text[0] == '#') {
        bool ok = true;
        for (std::size_t i = 1; i < 7; ++i) ok = ok && hexValue(text[i]) >= 0;
        if (ok) return std::string(text);
    }
    return "#888888";
}

std::optional<std::string> queryValue(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        const auto amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        const auto eq = pair.find('=');
        std::string_view name = pair.substr(0, eq);
        if (name != key) continue;
        return percentDecode(eq == std::string_view::npos ? std::string_view{} : pair.substr(eq + 1));
    }
    return std::nullopt;
}

Admission admit(std::string_view target, std::string_view authorization, const std::string& remoteAddress,
                AccountApi& accounts, Store& store, Metrics& metrics) {
    Admission a;
    auto refuse = [&](unsigned status, std::string message) {
        metrics.refusedConnections.fetch_add(1, std::memory_order_relaxed);
        logLine("refused room connection from " + remoteAddress + ": " + message);
        a.status = status;
        a.message = std::move(message);
        return a;
    };
    const auto q = target.find('?');
    const std::string_view query = q == std::string_view::npos ? std::string_view{} : target.substr(q + 1);
    try {
        // The header keeps tokens out of URLs and proxy logs; older clients send the query.
        std::string token(bearerToken(authorization));
        if (token.empty()) token = queryValue(query, "token").value_or("");
        std::optional<UserRecord> user = accounts.userForToken(token);
        if (!user) return refuse(401, "Not signed in");
        a.tokenHash = tokenHash(token);

        std::optional<std::string> roomText = queryValue(query, "room");
        const std::optional<RoomId> room = roomText ? parseRoomId(*roomText) : std::nullopt;
        if (!room) return refuse(400, "Malformed room id");
        if (room->kind == RoomId::Kind::solo) {
            if (room->first != user->id) return refuse(403, "Not your sketchbook");
        } else {
            const bool first = room->first == user->id;
            if (!first && room->second != user->id) return refuse(403, "Not your room");
            if (!store.areFriends(user->id, first ? room->second : room->first))
                return refuse(403, "Only friends share a room");
        }
        a.user = std::move(*user);
        a.roomId = std::move(*roomText);
    } catch (const StoreError& e) {
        logLine(std::string("database error: ") + e.what());
        return refuse(500, "Internal server error");
    }
    a.color = peerColor(queryValue(query, "color").value_or(""));
    return a;
}

}  // namespace vellumora::server
