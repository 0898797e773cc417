// Complete client stacks (session model, room connection, canvas view, coordinator) in one
// room of the real vellumora-server over loopback, each in a window of its own.

#include "canvas/ink_layer.h"
#include "canvas_window.h"
#include "canvasview/canvas_coordinator.h"
#include "server/test_client.h"
#include "support/qt_test_app.h"
#include "support/server_process.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointingDevice>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

namespace vellumora {
namespace {

using testing::CanvasWindow;
using testing::runUntil;

// One person at one computer: signed in, with the canvas of the room on screen.
struct Stack {
    Stack(const QUrl& base, const testing::Account& account, const QString& title)
        : session(base), canvas(session, title) {
        const QString name = QString::fromStdString(account.username);
        session.setCurrentUser(AuthUser{QString::fromStdString(account.id), name, name});
        session.setCurrentToken(QString::fromStdString(account.token));
        QObject::connect(&session, &SessionModel::canvasEvents,
                         [this](const CanvasEvent& e) { received.push_back(e); });
        canvas.coordinator().setClock([this] { return clock; });
    }

    template <class T>
    std::vector<T> got() const {
        return testing::only<T>(received);
    }
    QString id() const { return session.currentUserId(); }

    SessionModel session;
    CanvasWindow canvas;
    std::vector<CanvasEvent> received;
    double clock = 1733400000.0;  // seconds; advanced by the test, past the cursor throttle
};

class CanvasRoomTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ann = testing::signUp(server.port(), "ann");
        bob = testing::signUp(server.port(), "bob");
        testing::befriend(server.port(), ann, bob);
        room = QString::fromStdString(testing::dmRoom(ann, bob));
    }

    std::unique_ptr<Stack> enter(const testing::Account& account, const QString& title) {
        auto stack = std::make_unique<Stack>(base, account, title);
        EXPECT_TRUE(stack->canvas.open());
        stack->session.switchRoom(room, title);
        EXPECT_TRUE(runUntil(
            [&] { return !stack->received.empty() && !stack->canvas.coordinator().replayProgress(); }));
        return stack;
    }

    testing::TestAppScope app;
    testing::ServerProcess server{{{"--auth-rate-limit", "0"}}};
    QUrl base{QString::fromStdString(server.baseUrl())};
    testing::Account ann;
    testing::Account bob;
    QString room;
};

// A mouse drag, a pen with its pressure and a finger on a touchscreen each draw for the room,
// the drag's messages relayed exactly; the pressures reach the peer exactly. The pen's hover is the cursor
// ring the peer sees, in the own colour; its eraser end erases; it draws in canvas mode too.
TEST_F(CanvasRoomTest, theMouseAPenAndATouchscreenDrawForEveryoneWithThePensPressure) {
    auto a = enter(ann, "A");
    auto b = enter(bob, "B");
    // A touchscreen reaches the window that is on top where it is touched.
    b->canvas.window().move(a->canvas.window().frameGeometry().topRight() + QPoint(40, 0));
    ASSERT_FALSE(a->session.isInCanvasMode());
    a->canvas.drag(Qt::LeftButton, {{0.2, 0.2}, {0.3, 0.2}, {0.4, 0.25}});

    using Cap = QInputDevice::Capability;
    const QPointingDevice pen("pen", 901, QInputDevice::DeviceType::Stylus, QPointingDevice::PointerType::Pen,
                              Cap::Position | Cap::Pressure, 1, 3);
    const QPointingDevice eraser("eraser", 902, QInputDevice::DeviceType::Stylus,
                                 QPointingDevice::PointerType::Eraser, Cap::Position | Cap::Pressure, 1, 3);
    const auto penStroke = [&](const QPointingDevice& device, double y, const std::vector<double>& pressures,
                               double step = 0.1) {
        const auto x = [step](std::size_t i) { return 0.5 - 3 * step + step * double(i); };
        for (std::size_t i = 0; i < pressures.size(); ++i)
            a->canvas.tablet(i ? QEvent::TabletMove : QEvent::TabletPress, device, {x(i), y}, pressures[i]);
        a->canvas.tablet(QEvent::TabletRelease, device, {x(pressures.size()), y}, 0);
    };
    a->clock += 1;
    a->canvas.tablet(QEvent::TabletMove, pen, {0.7, 0.6}, 0);  // hovering
    const std::vector<double> pressures{0.15, 0.4, 0.65, 0.9};
    penStroke(pen, 0.5, pressures);
    penStroke(eraser, 0.65, {0.5, 0.5});

    const std::unique_ptr<QPointingDevice> screen(
        QTest::createTouchDevice(QInputDevice::DeviceType::TouchScreen));
    const auto touch = [&] { return QTest::touchEvent(&a->canvas.input(), screen.get()); };
    touch().press(1, a->canvas.at({0.2, 0.8}));
    touch().move(1, a->canvas.at({0.5, 0.8}));
    touch().release(1, a->canvas.at({0.5, 0.8}));

    ASSERT_TRUE(runUntil([&] { return b->got<CanvasEvent::PeerStrokeEnd>().size() == 4; }));
    const auto starts = b->got<CanvasEvent::PeerStrokeStart>();
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_EQ(starts[2].header.tool, Tool::eraser) << "the eraser end";
    EXPECT_EQ(starts[3].header.tool, Tool::sketchpen) << "the tool chosen stays";
    const std::string penStrokeId = starts[1].header.id;
    std::vector<double> received{starts[1].firstPoint.pressure};
    for (const auto& p : b->got<CanvasEvent::PeerStrokePoint>())
        if (p.strokeId == penStrokeId) received.push_back(p.point.pressure);
    EXPECT_EQ(received, pressures);
    EXPECT_EQ(starts[0].firstPoint.pressure, 1.0) << "a mouse presses fully";
    const auto sent = testing::only<ClientMessage::StrokeStart>(a->canvas.sent);
    const std::string id = sent[0].stroke.id, author = a->id().toStdString();
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")
                    .match(QString::fromStdString(id))
                    .hasMatch());
    std::vector<CanvasEvent> expected{
        {CanvasEvent::PeerStrokeStart{author, sent[0].stroke.header(), sent[0].stroke.point}}};
    for (const auto& p : testing::only<ClientMessage::StrokePoint>(a->canvas.sent))
        if (p.strokeId == id) expected.push_back({CanvasEvent::PeerStrokePoint{author, id, p.point}});
    expected.push_back({CanvasEvent::PeerStrokeEnd{author, id}});
    ASSERT_GT(b->received.size(), expected.size());
    EXPECT_EQ(std::vector<CanvasEvent>(b->received.begin() + 1, b->received.begin() + 1 + expected.size()),
              expected);
    const QImage bFrame = b->canvas.frame();
    for (const QPointF p : {QPointF(0.3, 0.2), QPointF(0.35, 0.5), QPointF(0.35, 0.8)})
        EXPECT_TRUE(testing::isInk(CanvasWindow::at(bFrame, p))) << p.x() << ", " << p.y();
    EXPECT_TRUE(testing::isPaper(CanvasWindow::at(bFrame, {0.35, 0.65})));
    const PeerCursor hover = b->session.peerCursors().value(a->id());
    EXPECT_NEAR(hover.x, 0.7, 0.01);
    EXPECT_NEAR(hover.y, 0.6, 0.01);
    // A pixel whose centre lies on the ring, 10 pixels right of the cursor's centre.
    const QColor own(QString(a->session.userColorHex()));
    const QColor ring = bFrame.pixelColor(CanvasWindow::pixelOf(bFrame, {hover.x, hover.y}) + QPoint(10, 0));
    EXPECT_LT(std::abs(ring.red() - own.red()) + std::abs(ring.green() - own.green()) +
                  std::abs(ring.blue() - own.blue()),
              12);

    // Two fingers spread apart zoom A's view and draw nothing.
    touch().press(1, a->canvas.at({0.45, 0.5})).press(2, a->canvas.at({0.55, 0.5}));
    touch().move(1, a->canvas.at({0.35, 0.5})).move(2, a->canvas.at({0.65, 0.5}));
    touch().release(1, a->canvas.at({0.35, 0.5})).release(2, a->canvas.at({0.65, 0.5}));
    EXPECT_NEAR(a->session.zoom(), 3.0, 0.05);
    EXPECT_EQ(testing::only<ClientMessage::StrokeStart>(a->canvas.sent).size(), 4u);

    a->canvas.key(Qt::Key_Space);
    ASSERT_TRUE(a->session.isInCanvasMode());
    penStroke(pen, 0.45, {1.0, 1.0}, 0.02);  // where the zoomed view shows the paper
    EXPECT_TRUE(runUntil([&] { return b->got<CanvasEvent::PeerStrokeEnd>().size() == 5; }));
}

// The ink image as the GPU holds it, premultiplied and averaged over kBlock-pixel squares:
// stamps take their grain from seeds of their own on every canvas, which averaging removes,
// while a stroke in the wrong place or order changes whole squares.
constexpr int kBlock = 32;
std::vector<float> inkBlocks(CanvasWindow& canvas) {
    CanvasInputView& view = canvas.input();
    view.makeCurrent();
    auto* gl = QOpenGLContext::currentContext()->functions();
    const int n = InkLayer::kPixels;
    std::vector<std::uint8_t> pixels(std::size_t(n) * n * 4);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, view.renderer().canvasFramebuffer());
    gl->glReadPixels(0, 0, n, n, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    gl->glBindFramebuffer(GL_FRAMEBUFFER, view.defaultFramebufferObject());
    view.doneCurrent();
    const int side = n / kBlock;
    std::vector<float> blocks(std::size_t(side) * side * 4);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const std::uint8_t* p = &pixels[(std::size_t(y) * n + x) * 4];
            float* b = &blocks[(std::size_t(y / kBlock) * side + x / kBlock) * 4];
            for (int c = 0; c < 3; ++c) b[c] += p[c] * (p[3] / 255.0f) / (kBlock * kBlock);
            b[3] += p[3] / float(kBlock * kBlock);
        }
    }
    return blocks;
}

// Two people stroke, erase, undo, redo and clear in a seeded order, each step reaching the other
// before the next; then a third joins from the stored room. All three show the same ink.
TEST_F(CanvasRoomTest, undoRedoEraseAndClearLeaveEveryCanvasWithTheSamePicture) {
    auto a = enter(ann, "A");
    auto b = enter(bob, "B");
    std::mt19937 random(2026);
    const auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution(low, high)(random);
    };
    const auto heard = [](Stack& s) {
        return s.got<CanvasEvent::PeerStrokeEnd>().size() + s.got<CanvasEvent::CanvasCleared>().size() +
               s.got<CanvasEvent::StrokeUndo>().size() + s.got<CanvasEvent::StrokeRedo>().size();
    };
    std::map<std::string, int> done;
    const auto draw = [&](Stack& me, QPointF from, QPointF to, bool erase) {
        me.session.setTool(erase ? Tool::eraser : Tool::sketchpen);
        me.session.setColor(ArtColor::palette()[random() % ArtColor::palette().size()]);
        me.session.setBrushSize(erase ? 14 : uniform(6, 12));
        me.canvas.coordinator().directStrokeStart(from, 1.0);
        for (int i = 1; i <= 16; ++i) {
            me.clock += 0.017;
            me.canvas.coordinator().directStrokePoint(from + (to - from) * (i / 16.0), 1.0);
        }
        me.canvas.coordinator().directStrokeEnd();
    };
    // At the end, a redo with the other's stroke crossing it since: only in place is it under.
    const auto ending = [&](Stack& me, int step) {
        if (step % 2 == 0)
            draw(me, step ? QPointF(0.5, 0.3) : QPointF(0.3, 0.5),
                 step ? QPointF(0.5, 0.7) : QPointF(0.7, 0.5), false);
        else
            step == 1 ? me.session.undo() : me.session.redo();
    };
    bool first = true;
    for (int step = 0; step < 52; ++step) {
        first = step >= 48 ? step != 50 : random() % 10 < 3 ? !first : first;  // runs, so redos happen
        Stack& me = first ? *a : *b;
        Stack& other = first ? *b : *a;
        const std::size_t before = heard(other);
        const int roll = int(random() % 100);
        if (step >= 48) {
            ending(me, step - 48);
        } else if (roll < 35 && me.session.undoHistory().canRedo()) {
            me.session.redo();
            ++done["redo"];
        } else if (roll < 55 && me.session.undoHistory().canUndo()) {
            me.session.undo();
            ++done["undo"];
        } else if (step == 24) {
            me.session.publishCanvasEvent(CanvasEvent{CanvasEvent::CanvasCleared{}});
            me.session.send(ClientMessage::clearCanvas());
            ++done["clear"];
        } else {
            const bool erase = roll >= 55 && roll < 72;
            draw(me, {uniform(0.2, 0.8), uniform(0.2, 0.8)}, {uniform(0.2, 0.8), uniform(0.2, 0.8)}, erase);
            ++done[erase ? "erase" : "stroke"];
        }
        ASSERT_TRUE(runUntil([&] { return heard(other) > before; })) << "step " << step;
    }
    EXPECT_TRUE(done["undo"] >= 3 && done["redo"] >= 2 && done["erase"] >= 3 && done["clear"] >= 1)
        << done["undo"] << " undos, " << done["redo"] << " redos, " << done["erase"] << " erasures, "
        << done["clear"];

    auto c = enter(ann, "C");
    for (Stack* s : {a.get(), b.get(), c.get()}) {
        ASSERT_TRUE(runUntil([&] {
            return !s->canvas.coordinator().journal().isBehind() && !s->canvas.coordinator().replayProgress();
        }));
        s->canvas.frame();
    }
    const std::vector<float> inkA = inkBlocks(a->canvas), inkB = inkBlocks(b->canvas),
                             inkC = inkBlocks(c->canvas);
    EXPECT_GT(*std::max_element(inkC.begin(), inkC.end()), 60.0f) << "ink to compare";
    float most = 0;
    for (std::size_t i = 0; i < inkA.size(); ++i)
        most = std::max({most, std::abs(inkA[i] - inkB[i]), std::abs(inkA[i] - inkC[i])});
    EXPECT_LE(most, 6.0f);
}

}  // namespace
}  // namespace vellumora
