#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "model/protocol.h"

using namespace vellumora;

namespace {
StrokeStartPayload samplePayload() {
    return {"0F2C6E1A-5B7D-4C3E-9A8B-1D2E3F405162", "u1", Tool::pencil, {0.86, 0.18, 0.18, 1.0}, 3,
            {0.25, 0.5, 1, 1733400000.125}};
}
}  // namespace

TEST(ClientMessageEncoding, everyCaseWritesExactCompactJson) {
    const WirePage page{"builtin-garden", "Garden", "image/png", "iVBORw0KGgo/+A=="};
    const struct {
        ClientMessage message;
        const char* json;
    } rows[] = {
        {ClientMessage::strokeStart(samplePayload()),
         R"({"type":"stroke_start","stroke":{"id":"0F2C6E1A-5B7D-4C3E-9A8B-1D2E3F405162","userId":"u1","tool":"pencil",)"
         R"("color":{"r":0.86,"g":0.18,"b":0.18,"a":1},"brushSize":3,"point":{"x":0.25,"y":0.5,"pressure":1,"t":1733400000.125}}})"},
        {ClientMessage::strokePoint("S1", {0.1, 0.2, 1, 1733400000.5}),
         R"({"type":"stroke_point","strokeId":"S1","point":{"x":0.1,"y":0.2,"pressure":1,"t":1733400000.5}})"},
        {ClientMessage::strokeEnd("S1"), R"({"type":"stroke_end","strokeId":"S1"})"},
        {ClientMessage::cursor(0.25, 0.5), R"({"type":"cursor","x":0.25,"y":0.5})"},
        {ClientMessage::setPage(page),
         R"({"type":"set_page","page":{"pageId":"builtin-garden","displayName":"Garden","mimeType":"image\/png",)"
         R"("imageBase64":"iVBORw0KGgo\/+A=="}})"},
        {ClientMessage::setPage(std::nullopt), R"({"type":"set_page","page":null})"},
        {ClientMessage::clearCanvas(), R"({"type":"clear_canvas"})"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.json);
        EXPECT_EQ(encode(row.message), std::string(row.json));
    }
}

TEST(ClientMessageEncoding, escapesStringsAsStandardJson) {
    const auto text = encode(ClientMessage::strokeEnd("a\"b\\c/d\n\t\x01\xC3\xA9"));
    EXPECT_EQ(text, std::string(R"({"type":"stroke_end","strokeId":"a\"b\\c\/d\n\t\u0001)"
                                "\xC3\xA9"
                                R"("})"));
}

TEST(ClientMessageEncoding, doublesReadBackBitIdentical) {
    std::mt19937_64 random(7);
    std::vector<double> values{0.1,
                               1.0 / 3.0,
                               5e-324,
                               std::numeric_limits<double>::max(),
                               -0.0,
                               1e21,
                               123456789.0,
                               std::ldexp(1.0, 64),
                               -std::ldexp(1.0, 70) - 4096.0,
                               0.30000000000000004};
    for (int i = 0; i < 2000; ++i) values.push_back(std::bit_cast<double>(random()));
    for (double value : values) {
        if (!std::isfinite(value)) continue;
        const auto text = encode(ClientMessage::cursor(value, 0.5));
        ASSERT_TRUE(text);
        const auto server = decodeClientMessage(*text);
        ASSERT_TRUE(server) << *text;
        const auto& cursor = std::get<ClientMessage::Cursor>(server->value);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(cursor.x), std::bit_cast<std::uint64_t>(value)) << *text;
    }
    EXPECT_EQ(encode(ClientMessage::cursor(0.1, 2)), std::string(R"({"type":"cursor","x":0.1,"y":2})"));
}

TEST(ClientMessageEncoding, nonFiniteNumbersFailTheWholeMessage) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(encode(ClientMessage::cursor(nan, 0)));
    EXPECT_FALSE(encode(ClientMessage::cursor(0, -inf)));
    EXPECT_FALSE(encode(ClientMessage::strokePoint("S", {0, 0, 1, inf})));
    auto payload = samplePayload();
    payload.color.a = nan;
    EXPECT_FALSE(encode(ClientMessage::strokeStart(payload)));

    std::string buffer = "kept";
    EXPECT_FALSE(encodeInto(ClientMessage::cursor(nan, 0), buffer));
    EXPECT_EQ(buffer, "kept");
    EXPECT_TRUE(encodeInto(ClientMessage::cursor(0, 0), buffer));
    EXPECT_EQ(buffer, R"(kept{"type":"cursor","x":0,"y":0})");
}

TEST(ServerMessageEncoding, roomStateWritesEveryMemberAndNullPage) {
    RoomStateMessage state;
    state.strokes.push_back({"S1", "u1", Tool::crayon, {1, 0, 0, 1}, 2, {{0.5, 0.5, 1, 10}}, false});
    state.peers.push_back({"u2", "Bea", "#12AB9F"});
    state.you.userId = "u1";
    EXPECT_EQ(
        encode(ServerMessage{state}),
        std::string(
            R"({"type":"room_state","strokes":[{"id":"S1","userId":"u1","tool":"crayon",)"
            R"("color":{"r":1,"g":0,"b":0,"a":1},"brushSize":2,"points":[{"x":0.5,"y":0.5,"pressure":1,"t":10}],)"
            R"("complete":false}],"peers":[{"userId":"u2","name":"Bea","color":"#12AB9F"}],)"
            R"("you":{"userId":"u1"},"page":null})"));
    EXPECT_EQ(encode(ServerMessage{CanvasClearedMessage{"u9"}}),
              std::string(R"({"type":"canvas_cleared","userId":"u9"})"));
}
