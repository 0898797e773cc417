// What the user made while the room could not take it: kept on disk in order and within the
// room's budget, surviving a crash, and delivered after the next room state without anything
// reaching the server twice.

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "session/delivery_plan.h"
#include "session/pending_work_journal.h"
#include "support/qt_printers.h"

namespace vellumora {
namespace {

using Entry = PendingWorkJournal::Entry;

ClientMessage start(const std::string& id, double x) {
    return ClientMessage::strokeStart(
        {id, "me", Tool::crayon, {0.2, 0.4, 0.6, 1}, 4, {x, 0.5, 1, 1733400001}});
}
ClientMessage point(const std::string& id, double x) {
    return ClientMessage::strokePoint(id, {x, 0.5, 1, 1733400001});
}
const WirePage kPage{"flower", "Tulip", "image/png", "aGk="};

TEST(PendingWorkJournal, keepsWhatWaitsInOrderWithinItsBudgetAcrossACrashUntilConfirmed) {
    QTemporaryDir dir;
    const QString path =
        PendingWorkJournal::pathFor(dir.path(), QUrl("https://h.example/app"), "u/1", "dm:u/1:u2");
    EXPECT_TRUE(path.startsWith(dir.path() + "/https%3A%2F%2Fh.example/u%2F1/dm%3Au%2F1%3Au2"));
    const std::vector<ClientMessage> made{start("A", 0.1),
                                          point("A", 0.2),
                                          ClientMessage::strokeEnd("A"),
                                          ClientMessage::setPage(kPage),
                                          ClientMessage::clearCanvas(),
                                          start("B", 0.3)};
    // Room for all of them and not quite one more point.
    std::size_t budget = encode(point("B", 0.4))->size() - 1;
    for (const ClientMessage& message : made) budget += encode(message)->size();
    {
        PendingWorkJournal journal(path, budget);
        journal.setRoomName(QStringLiteral("Änn"));
        std::uint32_t ordinal = 0;
        for (const ClientMessage& message : made) {
            ASSERT_EQ(journal.append(message, ordinal++), PendingWorkJournal::Append::kept);
        }
        EXPECT_EQ(journal.append(point("B", 0.4), 1), PendingWorkJournal::Append::overBudget);
        EXPECT_EQ(journal.append(ClientMessage::strokeEnd("B"), 0), PendingWorkJournal::Append::kept)
            << "a stroke always closes";

        PendingWorkJournal second(path, budget);
        EXPECT_FALSE(second.error().isEmpty()) << "one writer per journal";
        EXPECT_EQ(second.append(made[0], 0), PendingWorkJournal::Append::notWritten);

        journal.confirm(journal.entries()[1].seq);
        EXPECT_EQ(journal.entries().size(), 5u);
    }
    // A crash while the next record was written leaves it cut short.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("M 9 0 {\"type\":\"stroke_st");
    file.close();

    PendingWorkJournal again(path, budget);
    EXPECT_EQ(again.roomName(), QStringLiteral("Änn"));
    std::vector<ClientMessage> expected(made.begin() + 2, made.end());
    expected.push_back(ClientMessage::strokeEnd("B"));
    std::vector<ClientMessage> survived;
    for (const Entry& entry : again.entries()) survived.push_back(entry.message);
    EXPECT_EQ(survived, expected);
    EXPECT_EQ(again.entries().back().seq, 7u);
    EXPECT_EQ(pendingRoomName(path), QStringLiteral("Änn"));
    ASSERT_EQ(again.append(point("C", 0.5), 3), PendingWorkJournal::Append::kept);
    EXPECT_EQ(again.entries().back().seq, 8u) << "numbers go on after the records that survived";
    EXPECT_EQ(again.entries().back().ordinal, 3u);

    again.confirm(8);
    EXPECT_TRUE(again.entries().empty());
    EXPECT_EQ(pendingRoomName(path), std::nullopt) << "nothing waits";
}

// Journal: the user's clear, stroke A, stroke B (start, three points, end), a page, stroke C.
std::deque<Entry> journal() {
    std::deque<Entry> entries;
    const auto add = [&](ClientMessage message, std::uint32_t ordinal) {
        entries.push_back({entries.size() + 1, std::move(message), ordinal, 0});
    };
    add(ClientMessage::clearCanvas(), 0);
    add(start("A", 0.1), 0);
    add(ClientMessage::strokeEnd("A"), 0);
    add(start("B", 0.2), 0);
    for (std::uint32_t i = 1; i <= 3; ++i) add(point("B", 0.2 + i * 0.1), i);
    add(ClientMessage::strokeEnd("B"), 0);
    add(ClientMessage::setPage(kPage), 0);
    add(start("C", 0.9), 0);
    return entries;
}

// How the server holds one of the user's strokes.
Stroke held(const std::string& id, std::vector<double> xs, bool complete) {
    Stroke stroke{id, "me", Tool::crayon, {0.2, 0.4, 0.6, 1}, 4, {}, complete};
    for (double x : xs) stroke.points.push_back({x, 0.5, 1, 1733400001});
    return stroke;
}

TEST(DeliveryPlan, sendsWhatTheRoomDoesNotHoldOnceAndGoesOnWithAStrokeItHoldsPartOf) {
    const std::string b2 = continuationId("B", 2);
    const std::string b3 = continuationId(b2, 2);
    const struct {
        const char* name;
        std::vector<Stroke> room;
        std::optional<WirePage> page;
        std::vector<std::uint64_t> seqs;  // sent, 0 for a continuation's start
        std::optional<std::string> wireIdOfB;
    } cases[] = {
        {"nothing arrived", {}, std::nullopt, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, std::nullopt},
        {"everything arrived",
         {held("A", {0.1}, true), held("B", {0.2, 0.3, 0.4, 0.5}, true), held("C", {0.9}, false)},
         kPage,
         {},
         std::nullopt},
        // The clear came before A, which the server holds: it was read.
        {"cut off in B",
         {held("A", {0.1}, true), held("B", {0.2, 0.3}, false)},
         std::nullopt,
         {0, 6, 7, 8, 9, 10},
         b2},
        {"cut off again in its continuation",
         {held("B", {0.2, 0.3}, false), held(b2, {0.3, 0.4}, false)},
         std::nullopt,
         {0, 7, 8, 9, 10},
         b3},
        // Everything before C was read, then cleared by someone: it is not brought back.
        {"cleared since", {held("C", {0.9}, false)}, std::nullopt, {}, std::nullopt},
        {"the page is there already", {held("A", {0.1}, true)}, kPage, {4, 5, 6, 7, 8, 10}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DeliveryPlan plan = planDelivery(journal(), c.room, c.page);
        std::vector<std::uint64_t> seqs;
        for (const Outgoing& out : plan.messages) seqs.push_back(out.seq);
        EXPECT_EQ(seqs, c.seqs);
        EXPECT_EQ(plan.wireIds.count("B") ? std::optional(plan.wireIds.at("B")) : std::nullopt, c.wireIdOfB);
        if (!seqs.empty() && seqs[0] == 0) {
            // The rest of B starts where the server's part of it ends, and the canvas shows both.
            const double heldUpTo = c.room.back().points.back().x;
            EXPECT_EQ(plan.messages[0].message, start("B", heldUpTo));
            std::vector<Stroke> strokes = c.room;
            std::optional<WirePage> page;
            applyOwnMessages(plan.messages, "me", strokes, page);
            const auto rest =
                std::find_if(strokes.rbegin(), strokes.rend(), [](const Stroke& s) { return s.id == "B"; });
            ASSERT_NE(std::next(rest), strokes.rend());
            EXPECT_TRUE(rest->complete && rest->points.front().x == heldUpTo && rest->points.back().x == 0.5);
            EXPECT_EQ(std::next(rest)->id, c.room.back().id);
            EXPECT_EQ(page, kPage);
        }
    }
}

}  // namespace
}  // namespace vellumora
