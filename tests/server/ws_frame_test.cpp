// WebSocket framing and the opening handshake on plain bytes.
#include <gtest/gtest.h>

#include <boost/beast/http.hpp>

#include "frame_pieces.h"
#include "websocket/ws_handshake.h"

namespace vellumora::server::ws {
namespace {

using K = FrameEvent::Kind;
constexpr std::size_t kLimit = 100'000;

// A client frame as a browser would send it: masked.
std::string clientFrame(unsigned opcode, std::string_view payload, bool fin = true) {
    const unsigned char key[4] = {0x37, 0xfa, 0x21, 0x3d};
    std::string out(1, static_cast<char>((fin ? 0x80 : 0) | opcode));
    const std::size_t n = payload.size();
    const int lengthBytes = n < 126 ? 0 : n <= 0xFFFF ? 2 : 8;
    out.push_back(static_cast<char>(0x80 | (lengthBytes == 0 ? n : lengthBytes == 2 ? 126 : 127)));
    for (int i = lengthBytes - 1; i >= 0; --i) out.push_back(static_cast<char>(n >> (8 * i)));
    out.append(reinterpret_cast<const char*>(key), 4);
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
    return out;
}

TEST(FrameReader, shouldReadMessagesAtEveryLengthWholeOrInPiecesOrInFragmentsAndReadCloses) {
    for (std::size_t n : {0u, 125u, 126u, 65535u, 65536u}) {
        std::string payload(n, 'x');
        for (std::size_t i = 0; i < n; ++i) payload[i] = static_cast<char>('a' + i % 26);
        for (std::size_t chunk : {SIZE_MAX, std::size_t{1}, std::size_t{7}}) {
            if (chunk == 1 && n > 1000) continue;
            SCOPED_TRACE(::testing::Message() << "length " << n << " chunk " << chunk);
            EXPECT_EQ(readInPieces(1 << 20, clientFrame(0x1, payload) + clientFrame(0x2, "bin"), chunk),
                      (std::vector<Seen>{{K::message, payload, 0}, {K::message, "bin", 0}}));
        }
    }
    // Fragments are assembled around control frames: "é" split across two of them is still valid
    // UTF-8 once assembled.
    const std::string bytes = clientFrame(0x1, "{\"a\":\"\xC3", false) + clientFrame(0x9, "hi") +
                              clientFrame(0x0, "\xA9\"", false) + clientFrame(0xA, "") +
                              clientFrame(0x0, "}") + clientFrame(0x8, std::string("\x03\xE8", 2) + "bye");
    EXPECT_EQ(readInPieces(1 << 20, bytes, 3), (std::vector<Seen>{{K::ping, "hi", 0},
                                                                  {K::pong, "", 0},
                                                                  {K::message, "{\"a\":\"\xC3\xA9\"}", 0},
                                                                  {K::close, "", close_code::normal}}));
    EXPECT_EQ(readInPieces(1024, clientFrame(0x8, "")).at(0).code, close_code::noStatus);
}

TEST(FrameReader, shouldFailOnProtocolViolationsAndStayFailed) {
    std::string unmasked = clientFrame(0x1, "hi");
    unmasked[1] = static_cast<char>(unmasked[1] & 0x7F);
    std::string reserved = clientFrame(0x1, "hi");
    reserved[0] = static_cast<char>(reserved[0] | 0x40);
    std::string shortLength = clientFrame(0x1, std::string(200, 'x'));
    shortLength[3] = 5;  // 5 in the 16-bit form
    std::string hugeLength = clientFrame(0x1, std::string(70000, 'x'));
    hugeLength[2] = static_cast<char>(0x80);  // top bit of the 64-bit length
    const struct {
        const char* what;
        std::string bytes;
        std::uint16_t code;
    } cases[] = {
        {"unmasked", unmasked, close_code::protocolError},
        {"reserved bit", reserved, close_code::protocolError},
        {"unknown data opcode", clientFrame(0x3, "x"), close_code::protocolError},
        {"unknown control opcode", clientFrame(0xB, "x"), close_code::protocolError},
        {"fragmented ping", clientFrame(0x9, "x", false), close_code::protocolError},
        {"ping over 125 bytes", clientFrame(0x9, std::string(126, 'x')), close_code::protocolError},
        {"continuation first", clientFrame(0x0, "x"), close_code::protocolError},
        {"text inside a fragmented message", clientFrame(0x1, "a", false) + clientFrame(0x1, "b"),
         close_code::protocolError},
        {"length not minimal", shortLength, close_code::protocolError},
        {"length with the top bit", hugeLength, close_code::protocolError},
        {"close with one byte", clientFrame(0x8, "x"), close_code::protocolError},
        {"close with a reserved code", clientFrame(0x8, std::string("\x03\xED", 2)),
         close_code::protocolError},
        {"invalid UTF-8 text", clientFrame(0x1, "\xC3\x28"), close_code::badPayload},
        {"invalid UTF-8 across fragments", clientFrame(0x1, "\xC3", false) + clientFrame(0x0, "("),
         close_code::badPayload},
        {"invalid UTF-8 close reason", clientFrame(0x8, std::string("\x03\xE8\xFF", 3)),
         close_code::badPayload},
        // Refused at the header, before any of the payload is held.
        {"one byte over the limit", clientFrame(0x1, std::string(kLimit + 1, 'x')).substr(0, 14),
         close_code::tooBig},
        {"fragments over the limit",
         clientFrame(0x1, std::string(kLimit / 2, 'x'), false) +
             clientFrame(0x0, std::string(kLimit / 2, 'x'), false) + clientFrame(0x0, "x").substr(0, 6),
         close_code::tooBig},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Seen> r = readInPieces(kLimit, c.bytes);  // then stays failed
        ASSERT_FALSE(r.empty());
        EXPECT_EQ(r.back().kind, K::error);
        EXPECT_EQ(r.back().code, c.code);
    }
    // Binary messages are not text: any bytes go.
    const std::string binary = std::string(kLimit - 2, 'x') + "\xC3\x28";
    EXPECT_EQ(readInPieces(kLimit, clientFrame(0x2, binary)), (std::vector<Seen>{{K::message, binary, 0}}));
}

// Text that is all ASCII skips the UTF-8 check: a byte past ASCII anywhere, in a full word of
// the unmasking or in the bytes after the last, must still be checked.
TEST(FrameReader, shouldCheckTextWithAByteOutsideAsciiAtAnyPlace) {
    for (std::size_t n : {1u, 2u, 7u, 8u, 9u, 15u, 16u, 17u, 100u}) {
        for (std::size_t at = 0; at < n; ++at) {
            SCOPED_TRACE(::testing::Message() << "length " << n << " at " << at);
            std::string text(n, 'a');
            text[at] = '\xFF';
            const std::vector<Seen> refused = readInPieces(kLimit, clientFrame(0x1, text));
            ASSERT_EQ(refused.size(), 1u);
            EXPECT_EQ(refused[0].code, close_code::badPayload);
            if (at + 1 == n) continue;
            text.replace(at, 2, "\xC3\xA9");
            EXPECT_EQ(readInPieces(kLimit, clientFrame(0x1, text)), (std::vector<Seen>{{K::message, text, 0}}));
        }
    }
}

TEST(Handshake, shouldAnswerOnlyWellFormedVersion13Upgrades) {
    namespace http = boost::beast::http;
    auto request = [](std::string_view version, std::string_view key) {
        http::request<http::string_body> r(http::verb::get, "/?room=x", 11);
        r.set(http::field::upgrade, "websocket");
        r.set(http::field::connection, "Upgrade");
        r.set(http::field::sec_websocket_version, version);
        r.set(http::field::sec_websocket_key, key);
        return r;
    };
    const Handshake good = checkHandshake(request("13", "dGhlIHNhbXBsZSBub25jZQ=="));
    // The header carrying it is checked by every room test's client.
    EXPECT_EQ(good.acceptKey, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(checkHandshake(request("8", "dGhlIHNhbXBsZSBub25jZQ==")).status, 426u);
    for (const char* key : {"", "dGhlIHNhbXBsZSBub25jZQ", "dGhlIHNhbXBsZSBub25jZSE="})  // short; 17 bytes
        EXPECT_EQ(checkHandshake(request("13", key)).status, 400u) << key;
    auto plain = request("13", "dGhlIHNhbXBsZSBub25jZQ==");
    plain.erase(http::field::upgrade);
    EXPECT_EQ(checkHandshake(plain).status, 400u);
}

}  // namespace
}  // namespace vellumora::server::ws
