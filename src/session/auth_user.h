#pragma once
// The signed-in user as the account service describes it; shared by the account and
// session models.

#include <QHashFunctions>
#include <QString>

namespace vellumora {

struct AuthUser {
    QString id;
    QString username;
    QString displayName;
    bool operator==(const AuthUser&) const = default;
};

inline size_t qHash(const AuthUser& user, size_t seed = 0) noexcept {
    return qHashMulti(seed, user.id, user.username, user.displayName);
}

}  // namespace vellumora
