#include "support/room_pair.h"

#include <QUuid>

#include "account/auth_client.h"
#include "support/qt_test_app.h"

namespace vellumora::testing {

namespace {

// Whether the call answered in time and succeeded.
template <class T>
bool succeeded(const std::function<void(AuthClient::Callback<T>)>& call) {
    const auto result = resultOf<AuthResult<T>>(call);
    return result && result->ok();
}

}  // namespace

RoomPair::RoomPair(const QUrl& baseUrl)
    : ann_(std::make_unique<SessionModel>(baseUrl)), bob_(std::make_unique<SessionModel>(baseUrl)) {
    AuthClient client(baseUrl);
    std::optional<AuthResponse> ann, bob;
    for (std::optional<AuthResponse>* account : {&ann, &bob}) {
        const QString name = "p" + QUuid::createUuid().toString(QUuid::Id128).left(12);
        const auto result = resultOf<AuthResult<AuthResponse>>(
            [&](auto done) { client.signup(name, QStringLiteral("correct horse"), done); });
        if (!result || !result->ok()) return;
        *account = result->value();
    }
    if (!succeeded<FriendRequestResult>(
            [&](auto done) { client.sendFriendRequest(ann->token, bob->user.username, done); }) ||
        !succeeded<Done>([&](auto done) { client.acceptRequest(bob->token, ann->user.id, done); }))
        return;

    auto annStates = std::make_shared<int>(0);
    auto bobStates = std::make_shared<int>(0);
    QObject::connect(ann_.get(), &SessionModel::canvasEvents, ann_.get(),
                     [this, annStates](const CanvasEvent& e) {
                         *annStates += std::holds_alternative<CanvasEvent::RoomState>(e.value) ? 1 : 0;
                         annClears += std::holds_alternative<CanvasEvent::CanvasCleared>(e.value) ? 1 : 0;
                     });
    QObject::connect(bob_.get(), &SessionModel::canvasEvents, bob_.get(),
                     [this, bobStates](const CanvasEvent& e) {
                         *bobStates += std::holds_alternative<CanvasEvent::RoomState>(e.value) ? 1 : 0;
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
    if (!runUntil([&] { return *annStates == 1; })) return;
    bob_->switchRoom(room, ann->user.displayName);
    ready_ = runUntil([&] { return *bobStates == 1 && ann_->peerCount() == 1; });
}

RoomPair::~RoomPair() = default;

}  // namespace vellumora::testing
