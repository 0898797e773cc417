#include "websocket/ws_handshake.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <boost/beast/websocket/rfc6455.hpp>

namespace vellumora::server::ws {

namespace http = boost::beast::http;

Handshake checkHandshake(const http::request<http::string_body>& request) {
    Handshake h;
    if (!boost::beast::websocket::is_upgrade(request)) {
        h.status = 400;
        h.error = "Not a WebSocket upgrade";
        return h;
    }
    if (request[http::field::sec_websocket_version] != "13") {
        h.status = 426;
        h.error = "Unsupported WebSocket version";
        return h;
    }
    const std::string_view key = request[http::field::sec_websocket_key];
    unsigned char nonce[32];
    std::size_t nonceSize = 0;
    if (key.size() != 24 ||
        sodium_base642bin(nonce, sizeof nonce, key.data(), key.size(), nullptr, &nonceSize, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        nonceSize != 16) {
        h.status = 400;
        h.error = "Invalid Sec-WebSocket-Key";
        return h;
    }
    h.acceptKey = acceptKeyFor(key);
    return h;
}

std::string acceptKeyFor(std::string_view clientKey) {
    std::string input(clientKey);
    input += "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    EVP_Digest(input.data(), input.size(), digest, &digestSize, EVP_sha1(), nullptr);
    char text[sodium_base64_ENCODED_LEN(20, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(text, sizeof text, digest, digestSize, sodium_base64_VARIANT_ORIGINAL);
    return text;
}

std::string switchingProtocols(std::string_view acceptKey) {
    std::string out =
        "HTTP/1.1 101 Switching Protocols\r\n"
        "Upgrade: websocket\r\n"
        "Connection: Upgrade\r\n"
        "Server: vellumora-server\r\n"
        "Sec-WebSocket-Accept: ";
    out += acceptKey;
    out += "\r\n\r\n";
    return out;
}

}  // namespace vellumora::server::ws
