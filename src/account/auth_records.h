#pragma once
// The JSON records the account service exchanges with the client. Every field is required
// when decoding; keys a record does not list are ignored.

#include <QHashFunctions>
#include <QList>
#include <QString>

#include "session/auth_user.h"

namespace vellumora {

struct FriendDTO {
    QString id;
    QString username;
    QString displayName;
    bool online = false;
    bool operator==(const FriendDTO&) const = default;
};

// An incoming friend request; the names are the requester's. createdAt is carried, not read.
struct PendingRequestDTO {
    QString requesterId;
    QString username;
    QString displayName;
    double createdAt = 0;
    bool operator==(const PendingRequestDTO&) const = default;
};

struct AuthResponse {
    QString token;
    AuthUser user;
    bool operator==(const AuthResponse&) const = default;
};

struct MeResponse {
    AuthUser user;
    bool operator==(const MeResponse&) const = default;
};

struct FriendsResponse {
    QList<FriendDTO> friends;
    bool operator==(const FriendsResponse&) const = default;
};

struct PendingResponse {
    QList<PendingRequestDTO> requests;
    bool operator==(const PendingResponse&) const = default;
};

// "accepted": the two users are friends now; any other status: a request is pending.
struct FriendRequestResult {
    QString status;
    AuthUser target;
    bool operator==(const FriendRequestResult&) const = default;
};

// The body of an unsuccessful answer.
struct APIErrorEnvelope {
    QString error;
    bool operator==(const APIErrorEnvelope&) const = default;
};

inline size_t qHash(const FriendDTO& f, size_t seed = 0) noexcept {
    return qHashMulti(seed, f.id, f.username, f.displayName, f.online);
}

inline size_t qHash(const PendingRequestDTO& r, size_t seed = 0) noexcept {
    return qHashMulti(seed, r.requesterId, r.username, r.displayName, r.createdAt);
}

}  // namespace vellumora
