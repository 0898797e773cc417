// The history rules and the budget policy, without a network.
#include <gtest/gtest.h>

#include <random>

#include "rooms/message_rules.h"
#include "rooms/room_history.h"

namespace vellumora::server {
namespace {

using Changes = std::vector<RoomHistory::Change>;

ClientMessage start(const std::string& id, double x = 0.5) {
    StrokeStartPayload s;
    s.id = id;
    s.userId = "forged";
    s.tool = Tool::crayon;
    s.color = {0.1, 0.2, 0.3, 1.0};
    s.brushSize = 6;
    s.point = {x, 0.5, 1.0, 10.0};
    return ClientMessage::strokeStart(s);
}
ClientMessage point(const std::string& id, double x = 0.25) {
    return ClientMessage::strokePoint(id, {x, 0.75, 0.5, 11.0});
}

struct Step {
    const char* user;
    ClientMessage message;
    bool accepted;
};

TEST(RoomHistory, shouldApplyOwnershipRulesToStrokes) {
    RoomHistory h(StoredRoom{});
    const std::vector<Step> steps{
        {"u1", start("S"), true},
        {"u2", point("S"), false},  // someone else's stroke
        {"u2", ClientMessage::strokeEnd("S"), false},
        {"u2", start("S"), false},  // reused id, other author
        {"u1", start("S"), false},  // reused id, same author
        {"u1", point("S"), true},
        {"u1", point("UNKNOWN"), false},
        {"u1", ClientMessage::strokeEnd("S"), true},
        {"u1", point("S"), false},  // ended
        {"u1", ClientMessage::strokeEnd("S"), false},
        {"u2", start("T"), true},
        {"u1", ClientMessage::cursor(0.5, 0.5), true},
        {"u1", ClientMessage::clearCanvas(), true},
        {"u2", point("T"), false},  // the clear removed it
        {"u2", start("S"), true},   // the id is free again
    };
    Changes changes;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h.apply(steps[i].message, steps[i].user, changes), steps[i].accepted);
    }
    const auto strokes = h.strokes();
    ASSERT_EQ(strokes.size(), 1u);
    EXPECT_EQ(strokes[0].userId, "u2");  // the connection's id, not the forged one
}

TEST(RoomHistory, shouldRecordChangesInOrderWithPointIndexes) {
    RoomHistory h(StoredRoom{});
    Changes c;
    ASSERT_TRUE(h.apply(start("A"), "u", c));
    ASSERT_TRUE(h.apply(point("A"), "u", c));
    ASSERT_TRUE(h.apply(point("A", 0.3), "u", c));
    ASSERT_TRUE(h.apply(ClientMessage::strokeEnd("A"), "u", c));
    ASSERT_TRUE(h.apply(ClientMessage::setPage(WirePage{"p", "P", "image/png", ""}), "u", c));
    ASSERT_TRUE(h.apply(ClientMessage::clearCanvas(), "u", c));
    ASSERT_EQ(c.size(), 6u);
    EXPECT_EQ(std::get<HistoryOp::StartStroke>(c[0]).seq, 1);
    EXPECT_EQ(std::get<HistoryOp::StartStroke>(c[0]).header.userId, "u");
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[1]).index, 1);
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[2]).index, 2);
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[2]).point.x, 0.3);
    EXPECT_TRUE(std::holds_alternative<HistoryOp::EndStroke>(c[3]));
    EXPECT_EQ(std::get<HistoryOp::SetPage>(c[4]).page->pageId, "p");
    EXPECT_TRUE(std::holds_alternative<HistoryOp::Clear>(c[5]));
    EXPECT_EQ(h.strokeCount(), 0u);
    EXPECT_TRUE(h.page());
}

TEST(RoomHistory, shouldContinueSequenceNumbersOfAStoredRoom) {
    StoredRoom stored;
    stored.strokes.push_back({41, WireStroke{"OLD", "u", Tool::pencil, {}, 2, {{0.1, 0.1, 1, 1}}, false}});
    RoomHistory h(std::move(stored));
    Changes c;
    EXPECT_TRUE(h.apply(point("OLD"), "u", c));  // an open stroke stays extensible after a restart
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[0]).seq, 41);
    EXPECT_EQ(std::get<HistoryOp::AppendPoint>(c[0]).index, 1);
    EXPECT_TRUE(h.apply(start("NEW"), "u", c));
    EXPECT_EQ(std::get<HistoryOp::StartStroke>(c[1]).seq, 42);
}

TEST(RoomHistory, shouldEvictTheOldestStrokesWhenTheBudgetIsReached) {
    const std::size_t limit = kRoomStateReserve + 2000;
    RoomHistory h(StoredRoom{}, limit);
    Changes c;
    int evicted = 0;
    for (int i = 0; i < 40; ++i) {
        c.clear();
        ASSERT_TRUE(h.apply(start("S" + std::to_string(i)), "u", c));
        ASSERT_TRUE(h.apply(ClientMessage::strokeEnd("S" + std::to_string(i)), "u", c));
        for (const auto& change : c) evicted += std::holds_alternative<HistoryOp::RemoveStroke>(change);
        ASSERT_LE(h.bytes(), h.budget());
    }
    EXPECT_GT(evicted, 0);
    const auto strokes = h.strokes();
    EXPECT_EQ(strokes.size() + static_cast<std::size_t>(evicted), 40u);
    EXPECT_EQ(strokes.back().id, "S39");  // the newest are kept, in order
    EXPECT_EQ(strokes.front().id, "S" + std::to_string(evicted));
}

TEST(RoomHistory, shouldStopGrowingAStrokeThatAloneFillsTheBudget) {
    RoomHistory h(StoredRoom{}, kRoomStateReserve + 1500);
    Changes c;
    ASSERT_TRUE(h.apply(start("LONG"), "u", c));
    int accepted = 0;
    for (int i = 0; i < 100; ++i) accepted += h.apply(point("LONG"), "u", c);
    EXPECT_GT(accepted, 5);
    EXPECT_LT(accepted, 100);
    EXPECT_LE(h.bytes(), h.budget());
    EXPECT_TRUE(h.apply(ClientMessage::strokeEnd("LONG"), "u", c));
    // A new stroke now evicts the full one.
    EXPECT_TRUE(h.apply(start("NEXT"), "u", c));
    EXPECT_EQ(h.strokeCount(), 1u);
}

TEST(RoomHistory, shouldRefuseAPageThatCanNeverFitAndEvictStrokesForOneThatCan) {
    const std::size_t limit = kRoomStateReserve + 3000;
    RoomHistory h(StoredRoom{}, limit);
    Changes c;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(h.apply(start("S" + std::to_string(i)), "u", c));
    const std::size_t strokesBefore = h.strokeCount();
    EXPECT_FALSE(
        h.apply(ClientMessage::setPage(WirePage{"big", "B", "image/png", std::string(3000, 'A')}), "u", c));
    EXPECT_EQ(h.strokeCount(), strokesBefore);
    EXPECT_FALSE(h.page());
    EXPECT_TRUE(
        h.apply(ClientMessage::setPage(WirePage{"ok", "O", "image/png", std::string(2000, 'A')}), "u", c));
    EXPECT_LT(h.strokeCount(), strokesBefore);
    EXPECT_LE(h.bytes(), h.budget());
    EXPECT_TRUE(h.apply(ClientMessage::setPage(std::nullopt), "u", c));
    EXPECT_FALSE(h.page());
}

TEST(RoomHistory, shouldNeverUnderestimateTheEncodedRoomState) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    RoomHistory h(StoredRoom{});
    Changes c;
    for (int s = 0; s < 50; ++s) {
        const std::string id = "ID/\"" + std::to_string(s);  // characters the encoder escapes
        StrokeStartPayload p{id,
                             "x",
                             Tool::watercolor,
                             {unit(rng), unit(rng), unit(rng), 1.0},
                             0.5 + unit(rng) * 19,
                             {unit(rng), unit(rng), unit(rng), 1733400000.0 + unit(rng)}};
        ASSERT_TRUE(h.apply(ClientMessage::strokeStart(p), "user-\u00e9", c));
        for (int i = 0; i < 40; ++i) {
            h.apply(ClientMessage::strokePoint(id, {unit(rng), unit(rng), s % 2 ? 1.0 : unit(rng), i * 1e-3}),
                    "user-\u00e9", c);
        }
        if (s % 3) h.apply(ClientMessage::strokeEnd(id), "user-\u00e9", c);
    }
    h.apply(ClientMessage::setPage(WirePage{"p/1", "Name \"x\"", "image/png", std::string(5000, 'Z')}), "u",
            c);
    RoomStateMessage state{h.strokes(), {}, {"me"}, h.page()};
    const auto encoded = encode(ServerMessage{state});
    ASSERT_TRUE(encoded);
    EXPECT_LE(encoded->size(), h.bytes() + 100);
    EXPECT_GE(encoded->size(), h.bytes() * 95 / 100);  // and is tight enough not to waste the budget
}

TEST(MessageRules, shouldAcceptWhatADrawingClientSendsAndRejectTheRest) {
    struct Case {
        const char* what;
        ClientMessage message;
        bool sane;
    };
    StrokeStartPayload ok{
        "5B0C6A2E-0C52-4F8C-9C1B-1C0F4E7E2A11", "u", Tool::pastel, {1, 0.5, 0, 1}, 20, {0, 1, 1, 0}};
    auto with = [&](auto change) {
        StrokeStartPayload p = ok;
        change(p);
        return ClientMessage::strokeStart(p);
    };
    const std::vector<Case> cases{
        {"typical start", ClientMessage::strokeStart(ok), true},
        {"slightly off the page", ClientMessage::cursor(-0.05, 1.05), true},
        {"far off the page", ClientMessage::cursor(5, 0.5), false},
        {"infinite", ClientMessage::cursor(std::numeric_limits<double>::infinity(), 0.5), false},
        {"nan", ClientMessage::strokePoint("S", {std::nan(""), 0, 1, 0}), false},
        {"negative pressure", ClientMessage::strokePoint("S", {0.5, 0.5, -1, 0}), false},
        {"zero brush", with([](auto& p) { p.brushSize = 0; }), false},
        {"alpha above one", with([](auto& p) { p.color.a = 1.5; }), false},
        {"65-byte id", with([](auto& p) { p.id = std::string(65, 'a'); }), false},
        {"64-byte id", with([](auto& p) { p.id = std::string(64, 'a'); }), true},
        {"id with a newline", ClientMessage::strokeEnd("a\nb"), false},
        {"no page", ClientMessage::setPage(std::nullopt), true},
        {"long page name", ClientMessage::setPage(WirePage{"p", std::string(300, 'n'), "image/png", ""}),
         false},
        {"clear", ClientMessage::clearCanvas(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(saneMessage(c.message), c.sane);
    }
}

}  // namespace
}  // namespace vellumora::server
