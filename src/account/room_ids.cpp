#include "account/room_ids.h"

namespace vellumora {

QString soloRoomId(const QString& userId) {
    return QStringLiteral("solo:") + userId;
}

QString dmRoomId(const QString& userId, const QString& friendId) {
    // UTF-8 bytes sort in code-point order, as the server compares them; UTF-16 units do not.
    const bool userFirst = userId.toUtf8() < friendId.toUtf8();
    const QString& first = userFirst ? userId : friendId;
    const QString& second = userFirst ? friendId : userId;
    return QStringLiteral("dm:") + first + QLatin1Char(':') + second;
}

QString dmRoomId(const AuthModel::State& state, const QString& friendId) {
    const auto* session = std::get_if<AuthModel::Authenticated>(&state);
    return session ? dmRoomId(session->user.id, friendId) : QString();
}

}  // namespace vellumora
