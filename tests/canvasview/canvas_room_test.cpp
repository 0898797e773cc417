// Complete client stacks (session model, room connection, canvas view, coordinator) in one
// room of the real vellumora-server over loopback, each in a window of its own.

#include "account/auth_client.h"
#include "canvas_window.h"
#include "canvasview/canvas_coordinator.h"
#include "page_image.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"

#include <QTest>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <variant>

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using testing::CanvasWindow;
using testing::runFor;
using testing::runUntil;

struct Account {
    AuthUser user;
    QString token;
};

// One person at one computer: signed in, with the canvas of the room on screen.
struct Stack {
    Stack(const QUrl& base, const Account& account, const QString& title)
        : session(base), canvas(session, title) {
        session.setCurrentUser(account.user);
        session.setCurrentToken(account.token);
        QObject::connect(&session, &SessionModel::canvasEvents,
                         [this](const CanvasEvent& e) { received.push_back(e); });
        auto& coordinator = canvas.coordinator();
        coordinator.setClock([this] {
            using namespace std::chrono;
            lastClock = duration<double>(system_clock::now().time_since_epoch()).count();
            return lastClock;
        });
        QObject::connect(&coordinator, &CanvasCoordinator::messageSent, [this](const ClientMessage& m) {
            sent.push_back(m);
            if (std::holds_alternative<ClientMessage::Cursor>(m.value)) cursorTimes.push_back(lastClock);
        });
    }

    template <class T>
    std::vector<T> got() const {
        std::vector<T> out;
        for (const CanvasEvent& e : received)
            if (const T* v = std::get_if<T>(&e.value)) out.push_back(*v);
        return out;
    }
    template <class T>
    std::vector<T> out() const {
        std::vector<T> result;
        for (const ClientMessage& m : sent)
            if (const T* v = std::get_if<T>(&m.value)) result.push_back(*v);
        return result;
    }
    bool replayed() {
        return !got<CanvasEvent::RoomState>().empty() && !canvas.coordinator().replayProgress();
    }
    QString id() const { return session.currentUserId(); }

    SessionModel session;
    CanvasWindow canvas;
    std::vector<CanvasEvent> received;
    std::vector<ClientMessage> sent;
    std::vector<double> cursorTimes;
    double lastClock = 0;
};

class CanvasRoomTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AuthClient client(base);
        ann = signUp(client, "ann");
        bob = signUp(client, "bob");
        ASSERT_FALSE(ann.token.isEmpty());
        ASSERT_FALSE(bob.token.isEmpty());
        ASSERT_TRUE(testing::await([&](auto done) {
            client.sendFriendRequest(ann.token, bob.user.username, [done](auto) { done(); });
        }));
        ASSERT_TRUE(testing::await(
            [&](auto done) { client.acceptRequest(bob.token, ann.user.id, [done](auto) { done(); }); }));
        room = "dm:" + std::min(ann.user.id, bob.user.id) + ":" + std::max(ann.user.id, bob.user.id);
    }

    Account signUp(AuthClient& client, const QString& name) {
        Account account;
        const QString username = name + "_" + QUuid::createUuid().toString(QUuid::Id128).left(8);
        testing::await([&](auto done) {
            client.signup(username, "correct horse battery", [&, done](AuthResult<AuthResponse> result) {
                if (result.ok()) account = {result.value().user, result.value().token};
                done();
            });
        });
        return account;
    }

    std::unique_ptr<Stack> enter(const Account& account, const QString& title) {
        auto stack = std::make_unique<Stack>(base, account, title);
        EXPECT_TRUE(stack->canvas.open());
        stack->session.switchRoom(room, title);
        EXPECT_TRUE(runUntil([&] { return stack->replayed(); }));
        return stack;
    }

    testing::TestAppScope app;
    testing::ServerProcess server{{{"--auth-rate-limit", "0"}, {}, 0}};
    QUrl base{QString::fromStdString(server.baseUrl())};
    Account ann;
    Account bob;
    QString room;
};

// The colour nearest to `want` on a ring of `radius` drawable pixels around `centre`.
int ringDistance(const QImage& frame, QPointF centre, double radius, const QColor& want) {
    int best = 1 << 30;
    for (int y = int(centre.y() - radius - 2); y <= int(centre.y() + radius + 2); ++y) {
        for (int x = int(centre.x() - radius - 2); x <= int(centre.x() + radius + 2); ++x) {
            const double d = std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y());
            if (std::abs(d - radius) > 0.5 || !frame.rect().contains(x, y)) continue;
            const QColor c = frame.pixelColor(x, y);
            best = std::min(best, std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) +
                                      std::abs(c.blue() - want.blue()));
        }
    }
    return best;
}

TEST_F(CanvasRoomTest, aStrokeDrawnOnOneCanvasShowsOnEveryCanvasOfTheRoom) {
    auto a = enter(ann, "A");
    auto b = enter(bob, "B");
    ASSERT_TRUE(runUntil([&] { return a->session.peerColorById().contains(b->id()); }));

    // A draws with the pointer in canvas mode.
    a->canvas.window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&a->canvas.window()));
    a->canvas.key(Qt::Key_Space);
    ASSERT_TRUE(a->canvas.input().isPointerCaptured());
    const QSize size = a->canvas.input().size();
    a->canvas.moveBy({-size.width() / 4.0, -size.height() / 6.0});
    a->canvas.press();
    for (int i = 0; i < 30; ++i) {
        a->canvas.moveBy({8, 2}, Qt::LeftButton);
        runFor(5ms);
    }
    a->canvas.release();
    const CanvasPoint cursor = a->canvas.input().gestureMachine().cursor();

    // The messages that left A for the stroke, as the room relayed them to B.
    const auto starts = a->out<ClientMessage::StrokeStart>();
    const auto points = a->out<ClientMessage::StrokePoint>();
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(points.size(), 29u);
    ASSERT_EQ(a->out<ClientMessage::StrokeEnd>().size(), 1u);
    ASSERT_TRUE(runUntil([&] { return !b->got<CanvasEvent::PeerStrokeEnd>().empty(); }));
    const auto bStarts = b->got<CanvasEvent::PeerStrokeStart>();
    ASSERT_EQ(bStarts.size(), 1u);
    EXPECT_EQ(bStarts[0].header, starts[0].stroke.header());
    EXPECT_EQ(bStarts[0].userId, a->id().toStdString());
    const auto bPoints = b->got<CanvasEvent::PeerStrokePoint>();
    ASSERT_EQ(bPoints.size(), points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(bPoints[i].strokeId, starts[0].stroke.id);
        EXPECT_EQ(bPoints[i].point, points[i].point) << i;
    }
    EXPECT_EQ(b->got<CanvasEvent::PeerStrokeEnd>().size(), 1u);
    EXPECT_EQ(b->got<CanvasEvent::PeerStrokeEnd>()[0].strokeId, starts[0].stroke.id);
    ASSERT_GE(a->cursorTimes.size(), 2u);
    for (std::size_t i = 1; i < a->cursorTimes.size(); ++i)
        EXPECT_GT(a->cursorTimes[i] - a->cursorTimes[i - 1], 0.016);

    // B shows the ink along the stroke and A's cursor ring in A's colour.
    ASSERT_TRUE(runUntil([&] { return b->session.peerCursors().contains(a->id()); }));
    ASSERT_TRUE(runUntil([&] {
        const PeerCursor c = b->session.peerCursors().value(a->id());
        return c.x == cursor.x && c.y == cursor.y;
    }));
    EXPECT_EQ(b->session.peerCursors().value(a->id()).colorHex, a->session.userColorHex());
    const QImage bFrame = b->canvas.frame();
    CanvasWindow::screenshot(bFrame, "room-b-stroke-and-cursor");
    const StrokePoint first = starts[0].stroke.point;
    const StrokePoint middle = points[14].point;
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(bFrame, {first.x, first.y})));
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(bFrame, {middle.x, middle.y})));
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(bFrame, {middle.x, middle.y + 0.15})));
    const QColor own(QString(a->session.userColorHex()));
    EXPECT_LT(ringDistance(bFrame, {cursor.x * bFrame.width(), cursor.y * bFrame.height()}, 10.0, own), 40);

    // Someone joining later sees the same drawing once the backlog is painted.
    auto c = enter(bob, "C");
    const QImage cFrame = c->canvas.frame();
    CanvasWindow::screenshot(cFrame, "room-c-late-joiner");
    for (const auto& p : points) {
        // B draws A's cursor ring over the end of the stroke.
        if (std::hypot((p.point.x - cursor.x) * bFrame.width(), (p.point.y - cursor.y) * bFrame.height()) <
            16)
            continue;
        EXPECT_EQ(testing::isInk(CanvasWindow::at(cFrame, {p.point.x, p.point.y})),
                  testing::isInk(CanvasWindow::at(bFrame, {p.point.x, p.point.y})));
    }
    EXPECT_TRUE(testing::isInk(CanvasWindow::at(cFrame, {middle.x, middle.y})));

    // A clear on A empties B; a page set on A shows its line art on B.
    a->session.publishCanvasEvent({CanvasEvent::CanvasCleared{}});
    a->session.network().send(ClientMessage::clearCanvas());
    ASSERT_TRUE(runUntil([&] { return !b->got<CanvasEvent::CanvasCleared>().empty(); }));
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(b->canvas.frame(), {middle.x, middle.y})));

    const CurrentPage page{"page-cross", "Cross", testing::lineArtPng(256)};
    a->session.setCurrentPage(page);
    a->session.network().send(ClientMessage::setPage(toWirePage(page)));
    ASSERT_TRUE(runUntil([&] { return !b->got<CanvasEvent::PageChanged>().empty(); }));
    EXPECT_EQ(b->session.currentPage(), page);
    const QImage paged = b->canvas.frame();
    CanvasWindow::screenshot(paged, "room-b-page");
    EXPECT_LT(CanvasWindow::at(paged, {0.5, 0.25}).value(), 60);
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(paged, {0.25, 0.25})));
}

}  // namespace
}  // namespace vellumora
