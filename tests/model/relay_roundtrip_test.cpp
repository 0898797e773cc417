// A client message travels client -> server decode -> relay -> server encode -> client decode
// and arrives as the event the other participant must see.
#include <gtest/gtest.h>

#include "model/network_event.h"
#include "model/protocol.h"

using namespace vellumora;

namespace {
NetworkEvent throughServer(const ClientMessage& sent, const std::string& sender) {
    const auto wire = encode(sent);
    EXPECT_TRUE(wire);
    const auto received = decodeClientMessage(*wire);
    EXPECT_TRUE(received);
    EXPECT_EQ(*received, sent);
    const auto relayed = encode(relayedFrom(*received, sender));
    EXPECT_TRUE(relayed);
    const auto event = decodeNetworkEvent(*relayed);
    EXPECT_TRUE(event) << *relayed;
    return event.value_or(NetworkEvent{NetworkEvent::Opened{}});
}
}  // namespace

TEST(RelayRoundTrip, everyClientMessageArrivesAsItsEvent) {
    const StrokeStartPayload payload{"S-1", "claimed-by-client",         Tool::watercolor, {0.2, 0.4, 0.6, 1},
                                     7.5,   {0.1, 0.9, 1, 1733400000.25}};
    EXPECT_EQ(
        throughServer(ClientMessage::strokeStart(payload), "u7"),
        (NetworkEvent{NetworkEvent::StrokeStart{
            "u7", {"S-1", "u7", Tool::watercolor, {0.2, 0.4, 0.6, 1}, 7.5}, {0.1, 0.9, 1, 1733400000.25}}}));
    EXPECT_EQ(throughServer(ClientMessage::strokePoint("S-1", {0.3, 0.3, 1, 2.5}), "u7"),
              (NetworkEvent{NetworkEvent::StrokePoint{"u7", "S-1", {0.3, 0.3, 1, 2.5}}}));
    EXPECT_EQ(throughServer(ClientMessage::strokeEnd("S-1"), "u7"),
              (NetworkEvent{NetworkEvent::StrokeEnd{"u7", "S-1"}}));
    EXPECT_EQ(throughServer(ClientMessage::cursor(0.75, 0.125), "u7"),
              (NetworkEvent{NetworkEvent::Cursor{"u7", 0.75, 0.125}}));
    const WirePage page{"capture-1", "My/Scan", "image/png", "iVBORw0K+/8="};
    EXPECT_EQ(throughServer(ClientMessage::setPage(page), "u7"),
              (NetworkEvent{NetworkEvent::PageChanged{"u7", page}}));
    EXPECT_EQ(throughServer(ClientMessage::setPage(std::nullopt), "u7"),
              (NetworkEvent{NetworkEvent::PageChanged{"u7", std::nullopt}}));
    EXPECT_EQ(throughServer(ClientMessage::clearCanvas(), "u7"),
              (NetworkEvent{NetworkEvent::CanvasCleared{"u7"}}));
}

TEST(RelayRoundTrip, roomStateCarriesHistoryToALateJoiner) {
    RoomStateMessage state;
    state.strokes.push_back(
        {"A", "u1", Tool::pastel, {0, 0, 0, 1}, 20, {{0, 0, 1, 1}, {1, 1, 0.5, 2}}, true});
    state.strokes.push_back({"B", "u2", Tool::sketchpen, {1, 1, 1, 1}, 0.5, {}, false});
    state.peers = {{"u1", "Ann", "#D64141"}};
    state.you.userId = "u2";
    state.page = WirePage{"blank", "Blank", "image/png", ""};
    const auto event = decodeNetworkEvent(*encode(ServerMessage{state}));
    ASSERT_TRUE(event);
    const auto& received = std::get<NetworkEvent::RoomState>(event->value);
    ASSERT_EQ(received.strokes.size(), 2u);
    EXPECT_EQ(received.strokes[0], state.strokes[0].toStroke());
    EXPECT_EQ(received.strokes[1], state.strokes[1].toStroke());
    EXPECT_EQ(received.peers, state.peers);
    EXPECT_EQ(received.page, state.page);
}
