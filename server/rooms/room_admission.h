#pragma once
// Who may enter which room, decided from the handshake's query: room id rules, the colour
// text, and percent-decoding of the query itself.

#include <optional>
#include <string>
#include <string_view>

#include "accounts/account_api.h"
#include "model/room_id.h"

namespace vellumora::server {

struct Admission {
    unsigned status = 200;
    std::string message;  // why it was refused
    UserRecord user;
    std::string tokenHash;  // of the session the connection belongs to
    std::string roomId;
    std::string color;
    bool ok() const { return status == 200; }
};

// Decides a room handshake from its request target ("/?room=...&token=...&color=...") and its
// Authorization header, whose bearer token is taken before the query's: 401 no valid session,
// 400 malformed room id, 403 a room the user may not enter, 500 a database error. Refusals are
// counted and logged. Reads the store: call it off the I/O threads.
Admission admit(std::string_view target, std::string_view authorization, const std::string& remoteAddress,
                AccountApi& accounts, Store& store, Metrics& metrics);

// The colour to announce: `text` when it is "#RRGGBB", else "#888888".
std::string peerColor(std::string_view text);

// The decoded value of `key` in a URL query ("a=1&b=2"); none when absent or badly encoded.
std::optional<std::string> queryValue(std::string_view query, std::string_view key);

}  // namespace vellumora::server
