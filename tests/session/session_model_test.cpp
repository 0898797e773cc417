// The session's own rules: its colour, pages, notifications, room events, room switches and
// the view's zoom and pan.

#include <QMetaMethod>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "session/pleasant_color.h"
#include "session/session_model.h"
#include "support/manual_pause.h"
#include "support/qt_printers.h"
#include "support/qt_test_app.h"

namespace vellumora {
namespace {

using Entries = std::vector<std::string>;
using testing::ManualPause;

const WirePeer kAnn{"A", "Ann", "#111111"};
const WirePeer kBob{"B", "Bob", "#222222"};
const StrokePoint kPoint{0.25, 0.75, 1.0, 1733400000.5};

// Every notification in order, by property name, and the canvas events among them.
class SessionLog : public QObject {
    Q_OBJECT
  public:
    explicit SessionLog(SessionModel& model) {
        const QMetaObject& meta = SessionModel::staticMetaObject;
        const QMetaMethod record = staticMetaObject.method(staticMetaObject.indexOfSlot("record()"));
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            connect(&model, meta.property(i).notifySignal(), this, record);
        }
        connect(&model, &SessionModel::canvasEvents, this, [this](const CanvasEvent& event) {
            entries.push_back("canvas");
            canvas.push_back(event);
        });
    }

    std::vector<std::string> entries;
    std::vector<CanvasEvent> canvas;

  private slots:
    void record() {
        entries.push_back(
            sender()->metaObject()->method(senderSignalIndex()).name().chopped(7).toStdString());
    }
};

NetworkEvent ev(NetworkEvent::Value value) {
    return NetworkEvent{std::move(value)};
}

TEST(PleasantColor, isTheKnownHueAndStaysSaturatedAndMediumLight) {
    EXPECT_EQ(pleasantColorHex(0.0), "#D64141");
    EXPECT_EQ(pleasantColorHex(0.25), "#8CD641");
    EXPECT_EQ(pleasantColorHex(0.75), "#8C41D6");
    static const QRegularExpression form(QStringLiteral("^#([4-9A-D][0-9A-F]){3}$"));
    for (int i = 0; i < 4096; ++i) {
        const QString hex = i < 4000 ? pleasantColorHex(i / 4000.0) : randomPleasantColorHex();
        ASSERT_TRUE(form.match(hex).hasMatch()) << hex.toStdString();
        for (int c = 1; c < 7; c += 2) ASSERT_LE(hex.mid(c, 2).toInt(nullptr, 16), 0xD6) << hex.toStdString();
    }
}

TEST(CurrentPage, takesOnlyStrictBase64AndTravelsAsPng) {
    const std::pair<const char*, QByteArray> accepted[] = {
        {"aGVsbG8=", "hello"}, {"aA==", "h"}, {"+/8=", QByteArray("\xfb\xff", 2)}, {"", ""}};
    for (const auto& [text, bytes] : accepted)
        EXPECT_EQ(decodeStrictBase64(QByteArrayView(text)), bytes) << text;
    for (const char* text :
         {"aGVsbG8", "aA=", "aGVsbG8==", "aG=sbG8=", "a===", "aGVs\nbG8=", "aGVs*G8=", "-_8="}) {
        EXPECT_EQ(decodeStrictBase64(QByteArrayView(text)), std::nullopt) << text;
        EXPECT_EQ(toCurrentPage(WirePage{"p", "P", "image/jpeg", text}).imageData, std::nullopt)
            << "a page keeps going without its image";
    }
    EXPECT_EQ(toCurrentPage(WirePage{"p", "P", "image/jpeg", "aA=="}).imageData, QByteArray("h"));
    EXPECT_EQ(toCurrentPage(WirePage{"p", "P", "image/jpeg", ""}).imageData, std::nullopt) << "no image";
    const CurrentPage page{"import-1", QStringLiteral("Ünïcode"), QByteArray("\x89PNG\r\n\x1a\n\0\1", 10)};
    EXPECT_EQ(toWirePage(page), (WirePage{"import-1", "Ünïcode", "image/png", "iVBORw0KGgoAAQ=="}));
    EXPECT_EQ(toCurrentPage(toWirePage(page)), page);
    EXPECT_EQ(toWirePage(CurrentPage{"blank", "Blank", std::nullopt}).imageBase64, "");
}

class SessionModelTest : public ::testing::Test {
  protected:
    void SetUp() override { model.setJournalDirectory(journals.path()); }

    QTemporaryDir journals;
    ManualPause* pause = new ManualPause;
    SessionModel model{QUrl("http://127.0.0.1:1"), std::unique_ptr<PauseTimer>(pause)};
    SessionLog log{model};
};

// In this order on one model: what each event notifies, state always before its canvas event.
TEST_F(SessionModelTest, eachEventChangesStateBeforeItsCanvasEvent) {
    const struct {
        NetworkEvent event;
        Entries notified;
        int peers;
    } rows[] = {
        {ev(NetworkEvent::PeerLeft{"nobody"}),
         {"peerCount", "peerCursors", "peerColorById", "peerNameById"},
         0},
        {ev(NetworkEvent::Opened{}), {"connectionState"}, 0},
        {ev(NetworkEvent::RoomState{{}, {kAnn}, WirePage{"p", "P", "image/png", "aGk="}}),
         {"peerCount", "peerColorById", "peerNameById", "currentPage", "canvas"},
         1},
        {ev(NetworkEvent::PeerJoined{kBob}), {"peerCount", "peerColorById", "peerNameById"}, 2},
        // Ann on a second device, who leaves again: Ann is still here.
        {ev(NetworkEvent::PeerJoined{kAnn}), {"peerCount", "peerColorById", "peerNameById"}, 3},
        {ev(NetworkEvent::PeerLeft{"A"}), {"peerCount"}, 2},
        {ev(NetworkEvent::Cursor{"B", 0.1, 0.2}), {"peerCursors"}, 2},
        {ev(NetworkEvent::StrokeStart{"A", {"S", "A", Tool::crayon, {0, 0, 0, 1}, 4}, kPoint}),
         {"canvas"},
         2},
        {ev(NetworkEvent::StrokePoint{"A", "S", kPoint}), {"canvas"}, 2},
        {ev(NetworkEvent::StrokeEnd{"A", "S"}), {"canvas"}, 2},
        {ev(NetworkEvent::PageChanged{"A", std::nullopt}), {"currentPage", "canvas"}, 2},
        {ev(NetworkEvent::CanvasCleared{"A"}), {"canvas"}, 2},
        {ev(NetworkEvent::PeerLeft{"B"}), {"peerCount", "peerCursors", "peerColorById", "peerNameById"}, 1},
        {ev(NetworkEvent::Closed{"gone"}),
         {"connectionState", "peerCursors", "peerCount", "peerNameById"},
         0},
        {ev(NetworkEvent::Cursor{"A", 0.7, 0.8}), {"peerCursors"}, 0},
        {ev(NetworkEvent::Cursor{"C", 0.5, 0.6}), {"peerCursors"}, 0},
    };
    for (const auto& row : rows) {
        log.entries.clear();
        model.handleNetworkEvent(row.event);
        EXPECT_EQ(log.entries, row.notified) << row.event.value.index();
        EXPECT_EQ(model.peerCount(), row.peers) << row.event.value.index();
        if (std::holds_alternative<NetworkEvent::Opened>(row.event.value)) {
            EXPECT_EQ(model.connectionState(), ConnectionState::connecting()) << "not before the handshake";
        }
        if (row.event == ev(NetworkEvent::PeerLeft{"B"})) {
            EXPECT_EQ(model.peerNameById(), (PeerNameMap{{"A", "Ann"}})) << "who left is no longer listed";
        }
    }
    EXPECT_EQ(model.connectionState(), ConnectionState::failed("gone"));
    ASSERT_EQ(log.canvas.size(), 6U);
    EXPECT_EQ(log.canvas[3], (CanvasEvent{CanvasEvent::PeerStrokeEnd{"A", "S"}}));
    // Colours outlive a failed connection; a cursor of someone never announced is grey.
    EXPECT_EQ(model.peerColorById(), (PeerColorMap{{"A", "#111111"}}));
    EXPECT_EQ(model.peerCursors(),
              (PeerCursorMap{{"A", {"A", 0.7, 0.8, "#111111"}}, {"C", {"C", 0.5, 0.6, "#888888"}}}));
}

TEST_F(SessionModelTest, switchingRoomsStartsAfreshAndLeavingKeepsTheDrawingSettings) {
    model.switchRoom("solo:u1", "Sketchbook");
    EXPECT_TRUE(log.entries.empty()) << "nothing happens without a token";
    model.setCurrentUser(AuthUser{"u1", "ann", "Ann"});
    model.setCurrentToken(QStringLiteral("T"));
    model.setTool(Tool::pastel);
    model.applyPinchFactor(2, QPointF(1, 1));
    model.handleNetworkEvent(ev(NetworkEvent::RoomState{{}, {kAnn}, WirePage{"p", "P", "image/png", ""}}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"A", 0.5, 0.5}));
    log.entries.clear();

    model.switchRoom("dm:u1:u2", "Bob");
    EXPECT_EQ(log.entries, (Entries{"roomId", "roomDisplayName", "peerCursors", "peerColorById",
                                    "peerNameById", "currentPage", "connectionState", "connectionState"}));
    EXPECT_TRUE(model.peerCursors().isEmpty() && model.peerColorById().isEmpty() && !model.currentPage());
    EXPECT_EQ(model.network().connectionArgs(),
              (NetworkClient::ConnectionArgs{"dm:u1:u2", "T", model.userColorHex()}));
    ASSERT_TRUE(testing::runUntil([&] { return pause->isActive(); }));
    EXPECT_FALSE(model.connectionState().reason().isEmpty());

    model.clearAuth();
    EXPECT_FALSE(pause->isActive());
    EXPECT_FALSE(model.currentUser() || model.currentToken() || model.roomId() || model.roomDisplayName());
    EXPECT_EQ(model.connectionState(), ConnectionState::disconnected());
    EXPECT_EQ(model.tool(), Tool::pastel);
    EXPECT_EQ(model.zoom(), 2.0);
}

TEST(SessionView, pinchZoomsAboutTheAnchorWithinTheLimitsAndPanStaysInBounds) {
    const double m6 = (1 - 1 / 6.0) * 0.5;
    const struct {
        double zoom, panX, panY;          // before
        double factor, anchorX, anchorY;  // a pinch, or a pan when the factor is 0
        double zoomAfter, panXAfter, panYAfter;
    } cases[] = {
        {1, 0, 0, 2, 1, 1, 2, 0.25, 0.25},
        {2, -0.2, 0.1, 2, 0, 1, 4, -0.325, 0.225},
        {1, 0, 0, 100, 0, 0.5, 6, -m6, 0},
        {1, 0, 0, 0.01, 1, 1, 0.25, 0, 0},
        {6, 0.1, -0.1, 2, 1, 1, 6, 0.1, -0.1},
        {2, 0.25, -0.25, 0.75, 0, 1, 1.5, 1 / 6.0, -1 / 6.0},
        {2, 0, 0, 0, 1, -1, 2, 0.25, -0.25},
        {2, 0, 0, 0, 0.1, -0.2, 2, 0.1, -0.2},
        {1, 0, 0, 0, 0.3, -0.3, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SessionModel model(QUrl("http://127.0.0.1:1"));
        model.setZoom(c.zoom);
        model.setPan(QSizeF(c.panX, c.panY));
        c.factor ? model.applyPinchFactor(c.factor, QPointF(c.anchorX, c.anchorY))
                 : model.applyPanDelta(c.anchorX, c.anchorY);
        EXPECT_NEAR(model.zoom(), c.zoomAfter, 1e-12) << c.zoom << " x" << c.factor;
        EXPECT_NEAR(model.pan().width(), c.panXAfter, 1e-12) << c.zoom << " x" << c.factor;
        EXPECT_NEAR(model.pan().height(), c.panYAfter, 1e-12) << c.zoom << " x" << c.factor;
    }
}

}  // namespace
}  // namespace vellumora

#include "session_model_test.moc"
