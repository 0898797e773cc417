#pragma once
// The room ids the friends panel opens; both friends compute the same id for their room.

#include <QString>

#include "account/auth_model.h"

namespace vellumora {

// "solo:" + the user's id.
QString soloRoomId(const QString& userId);
// "dm:" + the two ids in code-point order, joined by ':'.
QString dmRoomId(const QString& userId, const QString& friendId);
// The room shared with a friend by whoever is signed in; empty when nobody is.
QString dmRoomId(const AuthModel::State& state, const QString& friendId);

}  // namespace vellumora
