// The drawing vocabulary and the room connection's messages in both directions.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "model/json_forms.h"
#include "model/network_event.h"
#include "model/protocol.h"
#include "model/room_id.h"

namespace vellumora {
namespace {

TEST(RoomIds, bothFriendsBuildTheIdTheServerParses) {
    EXPECT_EQ(dmRoomId("abe", "Zed"), "dm:Zed:abe") << "upper case sorts first in byte order";
    EXPECT_EQ(dmRoomId("Zed", "abe"), dmRoomId("abe", "Zed"));
    const auto dm = parseRoomId(dmRoomId("abe", "Zed"));
    ASSERT_TRUE(dm);
    EXPECT_EQ(dm->first + " " + dm->second, "Zed abe");
    EXPECT_EQ(parseRoomId(soloRoomId("abc-1"))->first, "abc-1");
    for (const char* bad : {"", "solo:", "solo:a:b", "dm:b2:a1", "dm:a1:a1", "dm:a1", "dm::a1", "dm:a1:b2:c3",
                            "Solo:a", "solo:a b", "solo:\xc3\xa9"})
        EXPECT_FALSE(parseRoomId(bad)) << bad;
}

TEST(DrawingTypes, toolsPaletteAndHexColours) {
    // The wire names peers rely on, and nothing near them.
    const char* raw[] = {"sketchpen", "pencil", "watercolor", "crayon", "pastel", "eraser"};
    ASSERT_EQ(toolAllCases.size(), std::size(raw));
    for (std::size_t i = 0; i < std::size(raw); ++i) EXPECT_EQ(toolFromRawValue(raw[i]), toolAllCases[i]);
    EXPECT_FALSE(toolFromRawValue("Pencil") || toolFromRawValue("pencil ") || toolFromRawValue(""));

    EXPECT_EQ(parseHexColor("#FF8000"), (RGBA32{1.0f, 128.0f / 255.0f, 0.0f, 1.0f}));
    EXPECT_EQ(parseHexColor("ff8000"), parseHexColor("#FF8000"));
    for (const char* text : {"", "#FFF", "##FFFFFF", "#FFFFFFFF", "#GG0000", "#12345 "})
        EXPECT_EQ(parseHexColor(text), (RGBA32{0.5f, 0.5f, 0.5f, 1.0f})) << text;
    EXPECT_EQ(hexColorText(0.999, 0.5, 0.0), "#FE7F00") << "truncated, upper case";
    EXPECT_EQ(hexColorText(1.5, -0.2, 2.0), "#FF00FF");
}

// Client -> server decode -> relay -> server encode -> client decode: what the other side sees.
TEST(ClientMessages, areWrittenAsExactCompactJsonAndArriveAsTheirEventAndHistoryReachesALateJoiner) {
    const StrokeStartPayload start{
        "0F2C", "claimed", Tool::pencil, {0.86, 0.18, 0.18, 1.0}, 3, {0.25, 0.5, 1, 1733400000.125}};
    const WirePage page{"g", "My/Garden", "image/png", "iVBO/+A=="};
    const std::string odd = "a\"b\\c/d\n\t\b\f\r\x01\xC3\xA9";
    const struct {
        ClientMessage message;
        const char* json;
        NetworkEvent::Value seen;
    } rows[] = {
        {ClientMessage::strokeStart(start),
         R"({"type":"stroke_start","stroke":{"id":"0F2C","userId":"claimed","tool":"pencil","color":{"r":0.86,)"
         R"("g":0.18,"b":0.18,"a":1},"brushSize":3,"point":{"x":0.25,"y":0.5,"pressure":1,"t":1733400000.125}}})",
         NetworkEvent::StrokeStart{
             "u7", {"0F2C", "u7", Tool::pencil, {0.86, 0.18, 0.18, 1.0}, 3}, start.point}},
        {ClientMessage::strokePoint("S1", {-0.0, 0.2, 1, 5e-324}),
         R"({"type":"stroke_point","strokeId":"S1","point":{"x":-0.0,"y":0.2,"pressure":1,"t":5e-324}})",
         NetworkEvent::StrokePoint{"u7", "S1", {-0.0, 0.2, 1, 5e-324}}},
        {ClientMessage::strokeEnd(odd),
         R"({"type":"stroke_end","strokeId":"a\"b\\c\/d\n\t\b\f\r\u0001)"
         "\xC3\xA9"
         R"("})",
         NetworkEvent::StrokeEnd{"u7", odd}},
        {ClientMessage::cursor(0.1, 2), R"({"type":"cursor","x":0.1,"y":2})",
         NetworkEvent::Cursor{"u7", 0.1, 2}},
        {ClientMessage::setPage(page),
         R"({"type":"set_page","page":{"pageId":"g","displayName":"My\/Garden","mimeType":"image\/png","imageBase64":"iVBO\/+A=="}})",
         NetworkEvent::PageChanged{"u7", page}},
        {ClientMessage::setPage(std::nullopt), R"({"type":"set_page","page":null})",
         NetworkEvent::PageChanged{"u7", std::nullopt}},
        {ClientMessage::clearCanvas(), R"({"type":"clear_canvas"})", NetworkEvent::CanvasCleared{"u7"}},
        {ClientMessage::strokeUndo("S1"), R"({"type":"stroke_undo","strokeId":"S1"})",
         NetworkEvent::StrokeUndo{"u7", "S1"}},
        {ClientMessage::strokeRedo("S1"), R"({"type":"stroke_redo","strokeId":"S1"})",
         NetworkEvent::StrokeRedo{"u7", Stroke{"S1", "", Tool::sketchpen, {}, 3.0, {}, false}, ""}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(encode(row.message), std::string(row.json));
        const auto received = decodeClientMessage(row.json);
        ASSERT_EQ(received, row.message) << row.json;
        EXPECT_EQ(decodeNetworkEvent(*encode(relayedFrom(*received, "u7"))), NetworkEvent{row.seen})
            << row.json;
    }
    // A number JSON cannot hold fails the whole message and leaves the buffer as it was.
    std::string buffer = "kept";
    EXPECT_FALSE(encodeInto(ClientMessage::strokePoint("S", {0, 0, 1, INFINITY}), buffer));
    EXPECT_FALSE(encodeInto(ClientMessage::cursor(NAN, 0), buffer));
    EXPECT_EQ(buffer, "kept");

    RoomStateMessage state;
    state.strokes = {{"A", "u1", Tool::pastel, {0, 0, 0, 1}, 20, {{0, 0, 1, 1}, {1, 1, 0.5, 2}}, true},
                     {"B", "u2", Tool::sketchpen, {1, 1, 1, 1}, 0.5, {}, false}};
    state.peers = {{"u1", "Ann", "#D64141"}};
    state.you.userId = "u2";
    state.page = WirePage{"blank", "Blank", "image/png", ""};
    const auto event = decodeNetworkEvent(*encode(ServerMessage{state}));
    ASSERT_TRUE(event);
    const auto& received = std::get<NetworkEvent::RoomState>(event->value);
    EXPECT_EQ(received.strokes,
              (std::vector<Stroke>{state.strokes[0].toStroke(), state.strokes[1].toStroke()}));
    EXPECT_EQ(received.peers, state.peers);
    EXPECT_EQ(received.page, state.page);
}

TEST(ClientMessages, doublesReadBackBitIdentical) {
    std::mt19937_64 random(7);
    std::vector<double> values{0.1,  1.0 / 3.0,           -0.0,
                               1e21, std::ldexp(1.0, 64), -std::ldexp(1.0, 70) - 4096.0};
    for (int i = 0; i < 2000; ++i) values.push_back(std::bit_cast<double>(random()));
    for (double value : values) {
        if (!std::isfinite(value)) continue;
        const auto text = encode(ClientMessage::cursor(value, 0.5));
        const auto decoded = decodeClientMessage(*text);
        ASSERT_TRUE(decoded) << *text;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(std::get<ClientMessage::Cursor>(decoded->value).x),
                  std::bit_cast<std::uint64_t>(value))
            << *text;
    }
}

TEST(ServerMessages, anythingNotExactlyAKnownRecordIsDroppedWholeAndPaddedInputEndsAtItsEnd) {
    const std::string stroke =
        R"({"id":"S1","userId":"u1","tool":"crayon","color":{"r":1,"g":0.5,"b":0,"a":1},"brushSize":3,)"
        R"("points":[{"x":0.1,"y":0.2,"pressure":1,"t":5}],"complete":true})";
    const auto roomState = [&](const std::string& strokes, const std::string& tail) {
        return R"({"type":"room_state","strokes":[)" + strokes + R"(],"peers":[],"you":{"userId":"u1"})" +
               tail + "}";
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = stroke;
        return text.replace(text.find(from), from.size(), to);
    };
    ASSERT_TRUE(decodeNetworkEvent(roomState(stroke, R"(,"page":null)")));
    for (const std::string& text : std::vector<std::string>{
             "", "not json", "[]", R"({"x":0})", R"({"type":7,"userId":"u"})",
             R"({"type":"Cursor","userId":"u","x":0,"y":0})", R"({"type":"ping"})",
             R"({"type":"clear_canvas"})",
             R"({"type":"stroke_redo","userId":"u","strokeId":"S1","after":""})",
             R"({"type":"cursor","userId":"u","x":"0.5","y":0})",
             R"({"type":"cursor","userId":5,"x":0,"y":0})", R"({"type":"cursor","userId":"u","x":0})",
             "{\"type\":\"canvas_cleared\",\"userId\":\"\xFF\"}",
             roomState(stroke + "," + replaced("crayon", "marker"), ""),
             roomState(replaced(R"(,"complete":true)", ""), ""),
             roomState(replaced(R"("t":5)", R"("t":"5")"), ""),
             roomState(stroke, R"(,"page":{"pageId":"p"})")}) {
        EXPECT_FALSE(decodeNetworkEvent(text)) << text;
    }
    EXPECT_FALSE(decodeClientMessage(R"({"type":"set_page"})"))
        << "the page member must be there, even if null";
    EXPECT_EQ(decodeStrokePoint(R"({"x":1,"x":2,"y":0,"pressure":1,"t":0,"extra":{}})")->x, 1.0)
        << "the first counts";

    // Padded input is parsed in place up to its end.
    const std::string message = R"({"type":"peer_left","userId":"u2"})";
    // What follows the message in the caller's buffer must never be read as part of it.
    std::string buffer = message + std::string(kDecodePadding, '}');
    EXPECT_EQ(decodeNetworkEvent(std::string_view(buffer.data(), message.size()), InputPadding::padded),
              (NetworkEvent{NetworkEvent::PeerLeft{"u2"}}));
    buffer = R"({"type":"peer_left","userId":"u2")" + std::string(kDecodePadding, '}');
    EXPECT_FALSE(
        decodeNetworkEvent(std::string_view(buffer.data(), message.size() - 1), InputPadding::padded));
}

}  // namespace
}  // namespace vellumora
