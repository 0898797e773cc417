#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include "support/qt_printers.h"
#include "support/scripted_server.h"
#include "session/session_model.h"
#include "session_log.h"

namespace vellumora {
namespace {

using testing::SessionLog;
using Entries = std::vector<std::string>;

const WirePeer kAnn{"A", "Ann", "#111111"};
const WirePeer kBob{"B", "Bob", "#222222"};
const StrokeHeader kHeader{"S-1", "A", Tool::crayon, WireColor{0.9, 0.1, 0.2, 1.0}, 4.5};
const StrokePoint kPoint{0.25, 0.75, 1.0, 1733400000.5};

NetworkEvent ev(NetworkEvent::Value value) {
    return NetworkEvent{std::move(value)};
}

QUrl unreachableBaseUrl() {
    QUrl url = testing::closedPortUrl();
    url.setScheme(QStringLiteral("http"));
    return url;
}

class SessionModelTest : public ::testing::Test {
  protected:
    SessionModel model{unreachableBaseUrl()};
    SessionLog log{model};
};

TEST_F(SessionModelTest, shouldHaveDefaultValuesOnCreation) {
    EXPECT_EQ(model.tool(), Tool::sketchpen);
    EXPECT_EQ(model.color().id, "cherry-red");
    EXPECT_EQ(model.color().name, "Cherry Red");
    EXPECT_EQ(model.brushSize(), 3.0);
    EXPECT_FALSE(model.isInCanvasMode());
    EXPECT_EQ(model.zoom(), 1.0);
    EXPECT_EQ(model.pan(), QSizeF(0, 0));
    EXPECT_EQ(model.connectionState(), ConnectionState::disconnected());
    EXPECT_EQ(model.peerCount(), 0);
    EXPECT_TRUE(model.peerCursors().isEmpty());
    EXPECT_TRUE(model.peerColorById().isEmpty());
    EXPECT_FALSE(model.currentPage());
    EXPECT_FALSE(model.currentUser());
    EXPECT_EQ(model.currentUserId(), "");
    EXPECT_FALSE(model.currentToken());
    EXPECT_FALSE(model.roomId());
    EXPECT_FALSE(model.roomDisplayName());
    EXPECT_TRUE(QRegularExpression("^#[0-9A-F]{6}$").match(model.userColorHex()).hasMatch());
    EXPECT_FALSE(model.network().connectionArgs());
    EXPECT_EQ(model.network().serverUrl().scheme(), "ws");
}

TEST_F(SessionModelTest, everyAssignmentNotifiesAlsoWhenTheValueIsUnchanged) {
    for (int i = 0; i < 2; ++i) {
        model.setTool(Tool::sketchpen);
        model.setColor(model.color());
        model.setBrushSize(3.0);
        model.setIsInCanvasMode(false);
        model.setCurrentPage(std::nullopt);
        model.setZoom(1.0);
        model.setPan(QSizeF(0, 0));
        model.setCurrentUser(std::nullopt);
    }
    const Entries once{"tool",        "color", "brushSize", "isInCanvasMode",
                       "currentPage", "zoom",  "pan",       "currentUser"};
    Entries twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(log.entries, twice);
}

TEST_F(SessionModelTest, switchRoomWithoutATokenChangesNothingAndOpensNothing) {
    model.setCurrentUser(AuthUser{"u1", "ann", "Ann"});
    log.clear();
    model.switchRoom("solo:u1", "My sketchbook");
    EXPECT_TRUE(log.entries.empty());
    EXPECT_FALSE(model.roomId());
    EXPECT_EQ(model.connectionState(), ConnectionState::disconnected());
    EXPECT_FALSE(model.network().connectionArgs());
    EXPECT_FALSE(model.network().shouldReconnect());
}

TEST_F(SessionModelTest, switchRoomResetsTheRoomAndConnectsWithTheUsersColour) {
    model.setCurrentToken(QStringLiteral("T"));
    model.handleNetworkEvent(ev(NetworkEvent::RoomState{{}, {kAnn}, WirePage{"p", "P", "image/png", ""}}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"A", 0.5, 0.5}));
    log.clear();

    model.switchRoom("dm:u1:u2", "Bob");

    EXPECT_EQ(log.entries, (Entries{"roomId", "roomDisplayName", "peerCursors", "peerColorById",
                                    "currentPage", "connectionState", "connectionState"}));
    EXPECT_EQ(log.states,
              (std::vector<ConnectionState>{ConnectionState::connecting(), ConnectionState::connected()}));
    EXPECT_EQ(model.roomId(), QStringLiteral("dm:u1:u2"));
    EXPECT_EQ(model.roomDisplayName(), QStringLiteral("Bob"));
    EXPECT_TRUE(model.peerCursors().isEmpty());
    EXPECT_TRUE(model.peerColorById().isEmpty());
    EXPECT_FALSE(model.currentPage());
    EXPECT_EQ(model.peerCount(), 1) << "set by the next room_state, not here";
    EXPECT_EQ(model.network().connectionArgs(),
              (NetworkClient::ConnectionArgs{"dm:u1:u2", "T", model.userColorHex()}));

    // Nobody listens: the failure shows with the transport's text and the room is kept.
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.connectionState().isFailed(); }, 5000));
    EXPECT_FALSE(model.connectionState().reason().isEmpty());
    EXPECT_EQ(model.roomId(), QStringLiteral("dm:u1:u2"));
    EXPECT_TRUE(model.network().isReconnectPending());
}

TEST_F(SessionModelTest, clearAuthLeavesTheRoomButKeepsTheDrawingSettings) {
    model.setCurrentUser(AuthUser{"u1", "ann", "Ann"});
    model.setCurrentToken(QStringLiteral("T"));
    model.setTool(Tool::pastel);
    model.setColor(ArtColor::palette().at(12));
    model.setBrushSize(7.5);
    model.setIsInCanvasMode(true);
    model.applyPinchFactor(2, QPointF(1, 1));
    const QString colorHex = model.userColorHex();
    model.switchRoom("solo:u1", "Sketchbook");
    model.handleNetworkEvent(
        ev(NetworkEvent::RoomState{{}, {kAnn, kBob}, WirePage{"p", "P", "image/png", ""}}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"A", 0.5, 0.5}));

    model.clearAuth();

    EXPECT_FALSE(model.currentUser());
    EXPECT_FALSE(model.currentToken());
    EXPECT_FALSE(model.roomId());
    EXPECT_FALSE(model.roomDisplayName());
    EXPECT_EQ(model.connectionState(), ConnectionState::disconnected());
    EXPECT_EQ(model.peerCount(), 0);
    EXPECT_TRUE(model.peerCursors().isEmpty());
    EXPECT_TRUE(model.peerColorById().isEmpty());
    EXPECT_FALSE(model.currentPage());
    EXPECT_FALSE(model.network().shouldReconnect());

    EXPECT_EQ(model.tool(), Tool::pastel);
    EXPECT_EQ(model.color(), ArtColor::palette().at(12));
    EXPECT_EQ(model.brushSize(), 7.5);
    EXPECT_TRUE(model.isInCanvasMode());
    EXPECT_EQ(model.zoom(), 2.0);
    EXPECT_EQ(model.pan(), QSizeF(0.25, 0.25));
    EXPECT_EQ(model.userColorHex(), colorHex);

    // A later switch needs a new token.
    log.clear();
    model.switchRoom("solo:u1", "Sketchbook");
    EXPECT_TRUE(log.entries.empty());
}

// Which notifications each event causes, in order; the canvas event always comes last.
TEST_F(SessionModelTest, eachEventChangesStateBeforeItsCanvasEvent) {
    const struct {
        const char* name;
        NetworkEvent event;
        Entries expected;
    } rows[] = {
        {"opened", ev(NetworkEvent::Opened{}), {"connectionState"}},
        {"closed", ev(NetworkEvent::Closed{"gone"}), {"connectionState", "peerCursors", "peerCount"}},
        {"roomState",
         ev(NetworkEvent::RoomState{{}, {kAnn}, std::nullopt}),
         {"peerCount", "peerColorById", "currentPage", "canvas:roomState"}},
        {"peerJoined", ev(NetworkEvent::PeerJoined{kBob}), {"peerCount", "peerColorById"}},
        {"peerLeft", ev(NetworkEvent::PeerLeft{"B"}), {"peerCount", "peerCursors", "peerColorById"}},
        {"strokeStart", ev(NetworkEvent::StrokeStart{"A", kHeader, kPoint}), {"canvas:peerStrokeStart"}},
        {"strokePoint", ev(NetworkEvent::StrokePoint{"A", "S-1", kPoint}), {"canvas:peerStrokePoint"}},
        {"strokeEnd", ev(NetworkEvent::StrokeEnd{"A", "S-1"}), {"canvas:peerStrokeEnd"}},
        {"cursor", ev(NetworkEvent::Cursor{"A", 0.1, 0.2}), {"peerCursors"}},
        {"pageChanged",
         ev(NetworkEvent::PageChanged{"A", std::nullopt}),
         {"currentPage", "canvas:pageChanged"}},
        {"canvasCleared", ev(NetworkEvent::CanvasCleared{"A"}), {"canvas:canvasCleared"}},
    };
    for (const auto& row : rows) {
        log.clear();
        model.handleNetworkEvent(row.event);
        EXPECT_EQ(log.entries, row.expected) << row.name;
    }
}

TEST_F(SessionModelTest, roomStateSetsPeersColoursAndPageBeforeTheCanvasReplaysTheStrokes) {
    const Stroke stroke{"S-1", "A", Tool::watercolor, WireColor{0.1, 0.2, 0.3, 1.0}, 6.0, {kPoint, kPoint},
                        false};
    const WirePage page{"builtin-fox", "Fox", "image/png", "iVBORw0KGgo="};
    model.handleNetworkEvent(ev(NetworkEvent::PeerJoined{WirePeer{"Z", "Zed", "#333333"}}));

    int peerCountSeen = -1;
    std::optional<CurrentPage> pageSeen;
    QObject context;
    QObject::connect(&model, &SessionModel::canvasEvents, &context, [&](const CanvasEvent&) {
        peerCountSeen = model.peerCount();
        pageSeen = model.currentPage();
    });
    model.handleNetworkEvent(ev(NetworkEvent::RoomState{{stroke}, {kAnn, kBob}, page}));

    EXPECT_EQ(peerCountSeen, 2);
    ASSERT_TRUE(pageSeen);
    EXPECT_EQ(pageSeen->imageData, QByteArray("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(model.peerColorById(), (PeerColorMap{{"A", "#111111"}, {"B", "#222222"}, {"Z", "#333333"}}));
    ASSERT_EQ(log.canvas.size(), 1U);
    EXPECT_EQ(log.canvas[0], CanvasEvent{CanvasEvent::RoomState{{stroke}}});

    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"A", 0.3, 0.4}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"C", 0.5, 0.6}));
    EXPECT_EQ(model.peerCursors().value("A"), (PeerCursor{"A", 0.3, 0.4, "#111111"}));
    EXPECT_EQ(model.peerCursors().value("C"), (PeerCursor{"C", 0.5, 0.6, "#888888"}));

    model.handleNetworkEvent(ev(NetworkEvent::RoomState{{}, {}, std::nullopt}));
    EXPECT_EQ(model.peerCount(), 0);
    EXPECT_FALSE(model.currentPage());
    EXPECT_EQ(model.peerColorById().size(), 3) << "colours of users not listed are kept";
}

TEST_F(SessionModelTest, peerCountFollowsJoinsAndLeavesButNeverGoesBelowZero) {
    model.handleNetworkEvent(ev(NetworkEvent::PeerLeft{"nobody"}));
    EXPECT_EQ(model.peerCount(), 0);
    model.handleNetworkEvent(ev(NetworkEvent::PeerJoined{kAnn}));
    model.handleNetworkEvent(ev(NetworkEvent::PeerJoined{kBob}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"A", 0.1, 0.1}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"B", 0.2, 0.2}));
    EXPECT_EQ(model.peerCount(), 2);

    model.handleNetworkEvent(ev(NetworkEvent::PeerLeft{"A"}));
    EXPECT_EQ(model.peerCount(), 1);
    EXPECT_FALSE(model.peerCursors().contains("A"));
    EXPECT_FALSE(model.peerColorById().contains("A"));
    EXPECT_TRUE(model.peerCursors().contains("B"));

    for (int i = 0; i < 3; ++i) {
        model.handleNetworkEvent(ev(NetworkEvent::PeerLeft{"B"}));
    }
    EXPECT_EQ(model.peerCount(), 0);
}

TEST_F(SessionModelTest, closedKeepsPeerColoursSoCursorsAfterAReconnectKeepThem) {
    model.handleNetworkEvent(ev(NetworkEvent::Opened{}));
    model.handleNetworkEvent(ev(NetworkEvent::RoomState{{}, {kAnn, kBob}, std::nullopt}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"A", 0.1, 0.1}));

    model.handleNetworkEvent(ev(NetworkEvent::Closed{"Connection refused"}));
    EXPECT_EQ(model.connectionState(), ConnectionState::failed("Connection refused"));
    EXPECT_NE(model.connectionState(), ConnectionState::failed("something else"));
    EXPECT_TRUE(model.peerCursors().isEmpty());
    EXPECT_EQ(model.peerCount(), 0);
    EXPECT_EQ(model.peerColorById().size(), 2);

    model.handleNetworkEvent(ev(NetworkEvent::Opened{}));
    model.handleNetworkEvent(ev(NetworkEvent::Cursor{"B", 0.7, 0.8}));
    EXPECT_EQ(model.connectionState(), ConnectionState::connected());
    EXPECT_EQ(model.peerCursors().value("B").colorHex, "#222222");
}

TEST_F(SessionModelTest, strokeEventsPassToTheCanvasUnchangedWhoeverSentThem) {
    model.setCurrentUser(AuthUser{"A", "ann", "Ann"});
    log.clear();
    model.handleNetworkEvent(ev(NetworkEvent::StrokeStart{"A", kHeader, kPoint}));
    model.handleNetworkEvent(ev(NetworkEvent::StrokePoint{"A", "S-1", StrokePoint{0.3, 0.3, 0.5, 2}}));
    model.handleNetworkEvent(ev(NetworkEvent::StrokeEnd{"A", "S-1"}));
    model.handleNetworkEvent(ev(NetworkEvent::CanvasCleared{"B"}));
    EXPECT_EQ(log.canvas, (std::vector<CanvasEvent>{
                              {CanvasEvent::PeerStrokeStart{"A", kHeader, kPoint}},
                              {CanvasEvent::PeerStrokePoint{"A", "S-1", StrokePoint{0.3, 0.3, 0.5, 2}}},
                              {CanvasEvent::PeerStrokeEnd{"A", "S-1"}},
                              {CanvasEvent::CanvasCleared{}},
                          }));
}

TEST_F(SessionModelTest, pageChangedAdoptsThePageAndHandsTheWirePageToTheCanvas) {
    const struct {
        const char* name;
        std::optional<WirePage> page;
        std::optional<CurrentPage> expected;
    } cases[] = {
        {"png", WirePage{"capture-1", "Scan", "image/png", "aGk="},
         CurrentPage{"capture-1", "Scan", QByteArray("hi")}},
        {"blank", WirePage{"blank", "Blank", "image/png", ""}, CurrentPage{"blank", "Blank", std::nullopt}},
        {"undecodable", WirePage{"x", "X", "image/png", "not base64!"}, CurrentPage{"x", "X", std::nullopt}},
        {"removed", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        log.clear();
        model.setCurrentPage(CurrentPage{"old", "Old", QByteArray("old")});
        model.handleNetworkEvent(ev(NetworkEvent::PageChanged{"B", c.page}));
        EXPECT_EQ(model.currentPage(), c.expected) << c.name;
        ASSERT_EQ(log.canvas.size(), 1U) << c.name;
        EXPECT_EQ(log.canvas[0], CanvasEvent{CanvasEvent::PageChanged{c.page}}) << c.name;
    }
}

}  // namespace
}  // namespace vellumora
