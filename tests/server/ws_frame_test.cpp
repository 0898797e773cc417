#include "websocket/ws_frame.h"

#include <gtest/gtest.h>

#include <boost/beast/http.hpp>

#include "websocket/ws_handshake.h"

namespace vellumora::server::ws {
namespace {

// A client frame as a browser would send it: masked with `key`.
std::string clientFrame(unsigned opcode, std::string_view payload, bool fin = true,
                        std::array<unsigned char, 4> key = {0x37, 0xfa, 0x21, 0x3d}) {
    std::string out;
    out.push_back(static_cast<char>((fin ? 0x80 : 0) | opcode));
    const std::size_t n = payload.size();
    if (n < 126) {
        out.push_back(static_cast<char>(0x80 | n));
    } else if (n <= 0xFFFF) {
        out.push_back(static_cast<char>(0x80 | 126));
        out.push_back(static_cast<char>(n >> 8));
        out.push_back(static_cast<char>(n & 0xFF));
    } else {
        out.push_back(static_cast<char>(0x80 | 127));
        for (int i = 7; i >= 0; --i)
            out.push_back(static_cast<char>((static_cast<std::uint64_t>(n) >> (8 * i)) & 0xFF));
    }
    for (unsigned char k : key) out.push_back(static_cast<char>(k));
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<char>(payload[i] ^ key[i % 4]));
    return out;
}

struct Read {
    std::vector<FrameEvent::Kind> kinds;
    std::vector<std::string> payloads;
    std::uint16_t code = 0;
};

// Feeds `bytes` in pieces of `chunk` the way a socket might deliver them.
Read readAll(FrameReader& reader, std::string bytes, std::size_t chunk = SIZE_MAX) {
    Read out;
    std::string buffer;
    std::size_t fed = 0;
    while (true) {
        const std::size_t take = std::min(chunk, bytes.size() - fed);
        buffer.append(bytes, fed, take);
        fed += take;
        while (true) {
            const auto step = reader.next(std::span<char>(buffer.data(), buffer.size()));
            if (step.event.kind != FrameEvent::Kind::none) {
                out.kinds.push_back(step.event.kind);
                out.payloads.emplace_back(step.event.payload);
                out.code = step.event.code;
                if (step.event.kind == FrameEvent::Kind::error) return out;
            }
            if (step.consumed == 0) break;
            buffer.erase(0, step.consumed);
        }
        if (fed == bytes.size()) return out;
    }
}

TEST(FrameReader, shouldReadMessagesAtEveryLengthEncodingWholeOrByteByByte) {
    for (std::size_t n : {0u, 1u, 125u, 126u, 65535u, 65536u, 70000u}) {
        std::string payload(n, 'x');
        for (std::size_t i = 0; i < n; ++i) payload[i] = static_cast<char>('a' + i % 26);
        for (std::size_t chunk : {SIZE_MAX, std::size_t{1}, std::size_t{7}}) {
            if (chunk == 1 && n > 1000) continue;
            SCOPED_TRACE(testing::Message() << "length " << n << " chunk " << chunk);
            FrameReader reader(1 << 20);
            const Read r = readAll(reader, clientFrame(0x1, payload) + clientFrame(0x2, "bin"), chunk);
            ASSERT_EQ(r.kinds.size(), 2u);
            EXPECT_EQ(r.kinds[0], FrameEvent::Kind::message);
            EXPECT_EQ(r.payloads[0], payload);
            EXPECT_EQ(r.payloads[1], "bin");
        }
    }
}

TEST(FrameReader, shouldAssembleFragmentsAroundControlFrames) {
    FrameReader reader(1 << 20);
    // "é" split across two fragments is still valid UTF-8 once assembled.
    const std::string bytes = clientFrame(0x1, "{\"a\":\"\xC3", false) + clientFrame(0x9, "hi") +
                              clientFrame(0x0, "\xA9\"", false) + clientFrame(0xA, "") +
                              clientFrame(0x0, "}") + clientFrame(0x1, "next");
    const Read r = readAll(reader, bytes, 3);
    using K = FrameEvent::Kind;
    ASSERT_EQ(r.kinds, (std::vector<K>{K::ping, K::pong, K::message, K::message}));
    EXPECT_EQ(r.payloads[0], "hi");
    EXPECT_EQ(r.payloads[2], "{\"a\":\"\xC3\xA9\"}");
    EXPECT_EQ(r.payloads[3], "next");
}

TEST(FrameReader, shouldReadCloseFrames) {
    FrameReader a(1024);
    const Read withCode = readAll(a, clientFrame(0x8, std::string("\x03\xE8", 2) + "bye"));
    ASSERT_EQ(withCode.kinds, std::vector{FrameEvent::Kind::close});
    EXPECT_EQ(withCode.code, close_code::normal);
    FrameReader b(1024);
    EXPECT_EQ(readAll(b, clientFrame(0x8, "")).code, close_code::noStatus);
}

TEST(FrameReader, shouldFailOnProtocolViolations) {
    struct Case {
        const char* what;
        std::string bytes;
        std::uint16_t code;
    };
    std::string unmasked = clientFrame(0x1, "hi");
    unmasked[1] = static_cast<char>(unmasked[1] & 0x7F);
    std::string reserved = clientFrame(0x1, "hi");
    reserved[0] = static_cast<char>(reserved[0] | 0x40);
    std::string shortLength = clientFrame(0x1, std::string(200, 'x'));
    shortLength[2] = 0;
    shortLength[3] = 5;  // 5 in the 16-bit form
    std::string hugeLength = clientFrame(0x1, std::string(70000, 'x'));
    hugeLength[2] = static_cast<char>(0x80);  // top bit of the 64-bit length
    const std::vector<Case> cases = {
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
        {"close with code 999", clientFrame(0x8, std::string("\x03\xE7", 2)), close_code::protocolError},
        {"invalid UTF-8 text", clientFrame(0x1, "\xC3\x28"), close_code::badPayload},
        {"invalid UTF-8 across fragments", clientFrame(0x1, "\xC3", false) + clientFrame(0x0, "("),
         close_code::badPayload},
        {"invalid UTF-8 close reason", clientFrame(0x8, std::string("\x03\xE8\xFF", 3)),
         close_code::badPayload},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FrameReader reader(1 << 20);
        const Read r = readAll(reader, c.bytes);
        ASSERT_FALSE(r.kinds.empty());
        EXPECT_EQ(r.kinds.back(), FrameEvent::Kind::error);
        EXPECT_EQ(r.code, c.code);
        // A failed reader does not pick up again.
        std::string more = clientFrame(0x1, "ok");
        EXPECT_EQ(reader.next(std::span<char>(more.data(), more.size())).event.kind, FrameEvent::Kind::error);
    }
    // Binary messages are not text: any bytes go.
    FrameReader reader(1024);
    EXPECT_EQ(readAll(reader, clientFrame(0x2, "\xC3\x28")).kinds, std::vector{FrameEvent::Kind::message});
}

TEST(FrameReader, shouldRefuseMessagesOverTheLimitAtTheHeader) {
    constexpr std::size_t limit = 100'000;
    FrameReader exact(limit);
    EXPECT_EQ(readAll(exact, clientFrame(0x1, std::string(limit, 'x'))).kinds,
              std::vector{FrameEvent::Kind::message});

    // Only the header of the oversized frame is there: no need to hold its payload first.
    FrameReader single(limit);
    std::string header = clientFrame(0x1, std::string(limit + 1, 'x')).substr(0, 14);
    const auto step = single.next(std::span<char>(header.data(), header.size()));
    EXPECT_EQ(step.event.kind, FrameEvent::Kind::error);
    EXPECT_EQ(step.event.code, close_code::tooBig);

    FrameReader fragmented(limit);
    const Read r =
        readAll(fragmented, clientFrame(0x1, std::string(limit / 2, 'x'), false) +
                                clientFrame(0x0, std::string(limit / 2, 'x'), false) + clientFrame(0x0, "x"));
    EXPECT_EQ(r.kinds.back(), FrameEvent::Kind::error);
    EXPECT_EQ(r.code, close_code::tooBig);
}

TEST(FrameWriter, shouldWriteHeadersAtEachLengthBoundary) {
    struct Case {
        std::size_t length;
        std::vector<unsigned char> bytes;
    };
    const std::vector<Case> cases = {
        {0, {0x81, 0}},
        {125, {0x81, 125}},
        {126, {0x81, 126, 0, 126}},
        {65535, {0x81, 126, 0xFF, 0xFF}},
        {65536, {0x81, 127, 0, 0, 0, 0, 0, 1, 0, 0}},
        {8u << 20, {0x81, 127, 0, 0, 0, 0, 0, 0x80, 0, 0}},
    };
    for (const Case& c : cases) {
        std::array<unsigned char, 10> out{};
        const std::size_t n = writeFrameHeader(Opcode::text, c.length, out);
        EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n)),
                  c.bytes)
            << c.length;
    }
    const std::string close = closePayload(close_code::goingAway, std::string(300, 'r'));
    EXPECT_EQ(close.size(), 125u);
    EXPECT_EQ(close.substr(0, 2), std::string("\x03\xE9", 2));
}

TEST(Handshake, shouldAnswerOnlyWellFormedVersion13Upgrades) {
    namespace http = boost::beast::http;
    EXPECT_EQ(acceptKeyFor("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");

    auto request = [](std::string_view version, std::string_view key) {
        http::request<http::string_body> r(http::verb::get, "/?room=x", 11);
        r.set(http::field::host, "localhost");
        r.set(http::field::upgrade, "websocket");
        r.set(http::field::connection, "Upgrade");
        r.set(http::field::sec_websocket_version, version);
        r.set(http::field::sec_websocket_key, key);
        return r;
    };
    const Handshake good = checkHandshake(request("13", "dGhlIHNhbXBsZSBub25jZQ=="));
    EXPECT_TRUE(good.ok());
    EXPECT_EQ(good.acceptKey, "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_NE(
        switchingProtocols(good.acceptKey).find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"),
        std::string::npos);

    EXPECT_EQ(checkHandshake(request("8", "dGhlIHNhbXBsZSBub25jZQ==")).status, 426u);
    EXPECT_EQ(checkHandshake(request("13", "")).status, 400u);
    EXPECT_EQ(checkHandshake(request("13", "dGhlIHNhbXBsZSBub25jZQ")).status, 400u);    // not 24 characters
    EXPECT_EQ(checkHandshake(request("13", "dGhlIHNhbXBsZSBub25jZSE=")).status, 400u);  // 17 bytes
    auto plain = request("13", "dGhlIHNhbXBsZSBub25jZQ==");
    plain.erase(http::field::upgrade);
    EXPECT_EQ(checkHandshake(plain).status, 400u);
}

}  // namespace
}  // namespace vellumora::server::ws
