#pragma once
// The signed-in user as the account service describes it; shared by the account and
// session models.

#include <QString>

namespace vellumora {

struct AuthUser {
    QString id;
    QString username;
    QString displayName;
    bool operator==(const AuthUser&) const = default;
};

}  // namespace vellumora
