// Parses arbitrary bytes as an HTTP request with the limits the server uses, then runs what
// the server does with an upgrade before it touches the store: the handshake check and the
// admission rules on the request target. Checks the answers keep their shape.
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rooms/room_admission.h"
#include "websocket/ws_handshake.h"

namespace http = boost::beast::http;
using namespace vellumora::server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(64 * 1024);
    parser.eager(true);
    boost::beast::error_code ec;
    parser.put(boost::asio::buffer(data, size), ec);
    if (ec || !parser.is_header_done()) return 0;
    const auto& request = parser.get();

    const ws::Handshake handshake = ws::checkHandshake(request);
    if (handshake.ok() != (handshake.status == 101)) std::abort();
    if (handshake.ok() && handshake.acceptKey.size() != 28) std::abort();
    if (!handshake.ok() && handshake.error.empty()) std::abort();

    const std::string_view target = request.target();
    const auto q = target.find('?');
    const std::string_view query = q == std::string_view::npos ? std::string_view{} : target.substr(q + 1);
    for (const char* key : {"room", "token", "color"}) {
        const std::optional<std::string> value = queryValue(query, key);
        if (value && value->size() > query.size()) std::abort();
    }
    if (const auto room = queryValue(query, "room")) {
        if (const auto id = vellumora::parseRoomId(*room)) {
            if (id->first.empty() || (id->kind == vellumora::RoomId::Kind::dm && !(id->first < id->second)))
                std::abort();
        }
    }
    const std::string color = peerColor(queryValue(query, "color").value_or(""));
    if (color.size() != 7 || color[0] != '#') std::abort();
    return 0;
}
