#pragma once
// Turns an admitted, upgraded HTTP connection into a room connection.

#include <string>

#include "http/http_session.h"

namespace vellumora::server {

// Sends `response` (the 101) and starts the room connection; `early` holds what the client
// sent after its request. `context` outlives every connection.
void startRoomSession(PlainStream&& stream, std::string response, Admission admission, std::string early,
                      ServerContext& context);
void startRoomSession(TlsStream&& stream, std::string response, Admission admission, std::string early,
                      ServerContext& context);

}  // namespace vellumora::server
