#pragma once
// The server side of the WebSocket opening handshake (version 13, no extensions).

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include <string>
#include <string_view>

namespace vellumora::server::ws {

struct Handshake {
    unsigned status = 101;  // 400 malformed, 426 unsupported version
    std::string error;
    std::string acceptKey;
    bool ok() const { return status == 101; }
};

// Checks an upgrade request; on success carries the Sec-WebSocket-Accept value.
Handshake checkHandshake(const boost::beast::http::request<boost::beast::http::string_body>& request);
std::string acceptKeyFor(std::string_view clientKey);
// The complete "101 Switching Protocols" answer.
std::string switchingProtocols(std::string_view acceptKey);

}  // namespace vellumora::server::ws
