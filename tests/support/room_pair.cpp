#include "support/room_pair.h"

#include <QUuid>

#include "account/auth_client.h"
#include "support/qt_test_app.h"

namespace vellumora::testing {

namespace {

std::optional<AuthResponse> signUp(AuthClient& client) {
    std::optional<AuthResponse> account;
    await([&](auto done) {
        const QString name = "p" + QUuid::createUuid().toString(QUuid::Id128).left(12);
        client.signup(name, QStringLiteral("correct horse"),
                      [&account, done](AuthResult<AuthResponse> result) {
                          if (result.ok()) account = result.value();
                          done();
                      });
    });
    return account;
}

bool befriend(AuthClient& client, const AuthResponse& from, const AuthResponse& to) {
    bool ok = false;
    await([&](auto done) {
        client.sendFriendRequest(
            from.token, to.user.username, [&, done](AuthResult<FriendRequestResult> sent) {
                if (!sent.ok()) return done();
                client.acceptRequest(to.token, from.user.id, [&ok, done](AuthResult<Done> accepted) {
                    ok = accepted.ok();
                    done();
                });
            });
    });
    return ok;
}

int roomStates(const std::vector<CanvasEvent>& events) {
    int n = 0;
    for (const CanvasEvent& e : events) n += std::holds_alternative<CanvasEvent::RoomState>(e.value) ? 1 : 0;
    return n;
}

}  // namespace

RoomPair::RoomPair(const QUrl& baseUrl)
    : ann_(std::make_unique<SessionModel>(baseUrl)), bob_(std::make_unique<SessionModel>(baseUrl)) {
    AuthClient client(baseUrl);
    const std::optional<AuthResponse> ann = signUp(client);
    const std::optional<AuthResponse> bob = signUp(client);
    if (!ann || !bob || !befriend(client, *ann, *bob)) return;

    auto annEvents = std::make_shared<std::vector<CanvasEvent>>();
    auto bobEvents = std::make_shared<std::vector<CanvasEvent>>();
    QObject::connect(ann_.get(), &SessionModel::canvasEvents, ann_.get(),
                     [this, annEvents](const CanvasEvent& e) {
                         annEvents->push_back(e);
                         annClears += std::holds_alternative<CanvasEvent::CanvasCleared>(e.value) ? 1 : 0;
                     });
    QObject::connect(bob_.get(), &SessionModel::canvasEvents, bob_.get(),
                     [this, bobEvents](const CanvasEvent& e) {
                         bobEvents->push_back(e);
                         if (const auto* page = std::get_if<CanvasEvent::PageChanged>(&e.value))
                             bobPages.push_back(page->page);
                         bobClears += std::holds_alternative<CanvasEvent::CanvasCleared>(e.value) ? 1 : 0;
                     });

    const QString room = QStringLiteral("dm:%1:%2")
                             .arg(std::min(ann->user.id, bob->user.id), std::max(ann->user.id, bob->user.id));
    ann_->setCurrentUser(ann->user);
    ann_->setCurrentToken(ann->token);
    bob_->setCurrentUser(bob->user);
    bob_->setCurrentToken(bob->token);
    ann_->switchRoom(room, bob->user.displayName);
    if (!runUntil([&] { return roomStates(*annEvents) == 1; })) return;
    bob_->switchRoom(room, ann->user.displayName);
    ready_ = runUntil([&] { return roomStates(*bobEvents) == 1 && ann_->peerCount() == 1; });
}

RoomPair::~RoomPair() = default;

}  // namespace vellumora::testing
