#include <gtest/gtest.h>

#include "model/network_event.h"
#include "model/protocol.h"

using namespace vellumora;

namespace {
constexpr const char* kStroke =
    R"({"id":"S1","userId":"u1","tool":"crayon","color":{"r":1,"g":0.5,"b":0,"a":1},"brushSize":3,)"
    R"("points":[{"x":0.1,"y":0.2,"pressure":1,"t":5},{"x":0.3,"y":0.4,"pressure":0.5,"t":6}],"complete":true})";
constexpr const char* kPage =
    R"({"pageId":"p","displayName":"Page","mimeType":"image/png","imageBase64":"AAAA"})";

std::string roomState(const std::string& strokes, const std::string& tail) {
    return R"({"type":"room_state","strokes":[)" + strokes +
           R"(],"peers":[{"userId":"u2","name":"B","color":"#111111"}])" + tail + "}";
}

// By value: the callers pass temporaries.
template <typename T>
T as(std::optional<NetworkEvent> event) {
    EXPECT_TRUE(event.has_value());
    if (!event) return T{};
    return std::get<T>(std::move(event->value));
}
}  // namespace

TEST(ServerDecoding, envelopeFailuresAndUnknownTypesAreDropped) {
    for (const char* text :
         {"", "not json", "[]", "42", R"("cursor")", R"({"x":0})", R"({"type":7,"userId":"u"})",
          R"({"type":null})", R"({"type":"Cursor","userId":"u","x":0,"y":0})", R"({"type":"ping"})",
          R"({"type":"cursor ","userId":"u","x":0,"y":0})", R"({"type":"set_page","page":null})",
          R"({"type":"clear_canvas"})", R"({"type":"cursor","userId":"u","x":0,"y":0)",
          "{\"type\":\"canvas_cleared\",\"userId\":\"\xFF\"}"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decodeServerMessage(text));
        EXPECT_FALSE(decodeNetworkEvent(text));
    }
}

TEST(ServerDecoding, eachRecordBecomesItsEvent) {
    EXPECT_EQ(as<NetworkEvent::PeerJoined>(
                  decodeNetworkEvent(
                      R"({"type":"peer_joined","peer":{"userId":"u2","name":"B","color":"#222222"}})"))
                  .peer,
              (WirePeer{"u2", "B", "#222222"}));
    EXPECT_EQ(as<NetworkEvent::PeerLeft>(decodeNetworkEvent(R"({"type":"peer_left","userId":"u2"})")).userId,
              "u2");
    EXPECT_EQ(
        as<NetworkEvent::StrokePoint>(decodeNetworkEvent(
            R"({"type":"stroke_point","userId":"u2","strokeId":"S","point":{"x":1,"y":0,"pressure":0.5,"t":3}})")),
        (NetworkEvent::StrokePoint{"u2", "S", {1, 0, 0.5, 3}}));
    EXPECT_EQ(as<NetworkEvent::StrokeEnd>(
                  decodeNetworkEvent(R"({"type":"stroke_end","userId":"u2","strokeId":"S"})")),
              (NetworkEvent::StrokeEnd{"u2", "S"}));
    EXPECT_EQ(
        as<NetworkEvent::Cursor>(decodeNetworkEvent(R"({"type":"cursor","userId":"u2","x":0.25,"y":0.5})")),
        (NetworkEvent::Cursor{"u2", 0.25, 0.5}));
    EXPECT_EQ(
        as<NetworkEvent::CanvasCleared>(decodeNetworkEvent(R"({"type":"canvas_cleared","userId":"u2"})"))
            .userId,
        "u2");
}

TEST(ServerDecoding, strokeStartNeedsAKnownTool) {
    const std::string start =
        R"({"type":"stroke_start","userId":"u2","stroke":{"id":"S","userId":"u2","tool":"TOOL",)"
        R"("color":{"r":0,"g":0,"b":1,"a":1},"brushSize":2,"point":{"x":0.5,"y":0.5,"pressure":1,"t":1}}})";
    auto withTool = [&](const std::string& tool) {
        std::string text = start;
        text.replace(text.find("TOOL"), 4, tool);
        return decodeNetworkEvent(text);
    };
    EXPECT_FALSE(withTool("marker"));
    EXPECT_FALSE(withTool("Crayon"));
    const auto event = as<NetworkEvent::StrokeStart>(withTool("crayon"));
    EXPECT_EQ(event.userId, "u2");
    EXPECT_EQ(event.header, (StrokeHeader{"S", "u2", Tool::crayon, {0, 0, 1, 1}, 2}));
    EXPECT_EQ(event.firstPoint, (StrokePoint{0.5, 0.5, 1, 1}));
}

TEST(ServerDecoding, strictTypesButIntegersCountAsNumbers) {
    EXPECT_FALSE(decodeServerMessage(R"({"type":"cursor","userId":"u","x":"0.5","y":0})"));
    EXPECT_FALSE(decodeServerMessage(R"({"type":"cursor","userId":"u","x":true,"y":0})"));
    EXPECT_FALSE(decodeServerMessage(R"({"type":"cursor","userId":5,"x":0,"y":0})"));
    EXPECT_FALSE(decodeServerMessage(R"({"type":"cursor","userId":"u","x":0})"));
    EXPECT_FALSE(decodeServerMessage(R"({"type":"peer_left"})"));
    EXPECT_TRUE(decodeServerMessage(R"({"type":"cursor","userId":"u","x":1,"y":-3})"));
    EXPECT_TRUE(decodeServerMessage(R"({"type":"cursor","userId":"u","x":18446744073709551615,"y":1e300})"));
}

TEST(ServerDecoding, extraMembersAnywhereAreIgnored) {
    const auto event = decodeNetworkEvent(
        R"({"version":2,"type":"peer_joined","peer":{"type":"cursor","userId":"u3","name":"C","color":"#333333","avatar":{}}})");
    EXPECT_EQ(as<NetworkEvent::PeerJoined>(event).peer.userId, "u3");
}

TEST(ServerDecoding, roomStateConvertsStrokesAndReadsOptionalPage) {
    const auto withoutPage = decodeNetworkEvent(roomState(kStroke, R"(,"you":{"userId":"u1"})"));
    const auto state = as<NetworkEvent::RoomState>(withoutPage);
    ASSERT_EQ(state.strokes.size(), 1u);
    EXPECT_EQ(
        state.strokes[0],
        (Stroke{"S1", "u1", Tool::crayon, {1, 0.5, 0, 1}, 3, {{0.1, 0.2, 1, 5}, {0.3, 0.4, 0.5, 6}}, true}));
    EXPECT_EQ(state.peers, (std::vector<WirePeer>{{"u2", "B", "#111111"}}));
    EXPECT_FALSE(state.page);

    EXPECT_FALSE(as<NetworkEvent::RoomState>(
                     decodeNetworkEvent(roomState("", R"(,"you":{"userId":"u1"},"page":null)")))
                     .page);
    const auto withPage =
        decodeNetworkEvent(roomState("", std::string(R"(,"you":{"userId":"u1"},"page":)") + kPage));
    EXPECT_EQ(as<NetworkEvent::RoomState>(withPage).page, (WirePage{"p", "Page", "image/png", "AAAA"}));
}

TEST(ServerDecoding, oneBadPartDropsTheWholeRoomState) {
    const std::string you = R"(,"you":{"userId":"u1"})";
    std::string badTool = kStroke;
    badTool.replace(badTool.find("crayon"), 6, "marker");
    std::string noComplete = kStroke;
    noComplete.erase(noComplete.find(R"(,"complete":true)"), 16);
    std::string badPoint = kStroke;
    badPoint.replace(badPoint.find(R"("t":6)"), 5, R"("t":"6")");
    for (const auto& text :
         {roomState(std::string(kStroke) + "," + badTool, you), roomState(noComplete, you),
          roomState(badPoint, you), roomState(kStroke, ""), roomState(kStroke, R"(,"you":{})"),
          roomState(kStroke, R"(,"you":{"userId":"u1"},"page":{"pageId":"p"})"),
          roomState(kStroke, R"(,"you":{"userId":"u1"},"page":"none")")}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decodeNetworkEvent(text));
    }
}

TEST(ServerDecoding, pageChangedWithoutPageOrWithEmptyImage) {
    EXPECT_EQ(as<NetworkEvent::PageChanged>(decodeNetworkEvent(R"({"type":"page_changed","userId":"u2"})")),
              (NetworkEvent::PageChanged{"u2", std::nullopt}));
    EXPECT_EQ(as<NetworkEvent::PageChanged>(
                  decodeNetworkEvent(R"({"type":"page_changed","userId":"u2","page":null})")),
              (NetworkEvent::PageChanged{"u2", std::nullopt}));
    const auto blank = decodeNetworkEvent(
        R"({"type":"page_changed","userId":"u2","page":{"pageId":"blank","displayName":"Blank","mimeType":"x","imageBase64":""}})");
    EXPECT_EQ(as<NetworkEvent::PageChanged>(blank).page, (WirePage{"blank", "Blank", "x", ""}));
}

TEST(ClientDecoding, sameStrictnessOnTheServerSide) {
    EXPECT_EQ(decodeClientMessage(R"({"type":"clear_canvas","extra":1})"), ClientMessage::clearCanvas());
    EXPECT_EQ(decodeClientMessage(R"({"type":"set_page","page":null})"),
              ClientMessage::setPage(std::nullopt));
    EXPECT_EQ(decodeClientMessage(std::string(R"({"type":"set_page","page":)") + kPage + "}"),
              ClientMessage::setPage(WirePage{"p", "Page", "image/png", "AAAA"}));
    for (
        const char* text :
        {R"({"type":"set_page"})",  // the page member must be there, even if null
         R"({"type":"canvas_cleared","userId":"u"})", R"({"type":"page_changed","userId":"u"})",
         R"({"type":"stroke_end"})", R"({"type":"stroke_end","strokeId":3})", R"({"type":"cursor","x":0})",
         R"({"type":"stroke_point","strokeId":"S","point":{"x":0,"y":0,"t":0}})",
         R"({"type":"stroke_start","stroke":{"id":"S","tool":"pencil","color":{"r":0,"g":0,"b":0,"a":1},"brushSize":1,"point":{"x":0,"y":0,"pressure":1,"t":0}}})"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(decodeClientMessage(text));
    }
}

TEST(ServerDecoding, paddedInputIsParsedInPlaceUpToItsEnd) {
    const std::string message = R"({"type":"peer_left","userId":"u2"})";
    // What follows the message in the caller's buffer must never be read as part of it.
    std::string buffer = message + std::string(kDecodePadding, '}');
    const std::string_view view(buffer.data(), message.size());
    EXPECT_EQ(as<NetworkEvent::PeerLeft>(decodeNetworkEvent(view, InputPadding::padded)).userId, "u2");
    buffer = R"({"type":"peer_left","userId":"u2")" + std::string(kDecodePadding, '}');
    EXPECT_FALSE(
        decodeNetworkEvent(std::string_view(buffer.data(), message.size() - 1), InputPadding::padded));
}
