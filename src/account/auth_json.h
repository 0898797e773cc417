#pragma once
// JSON of the account service: strict decoding of its records, encoding of request bodies.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <utility>

#include "account/auth_error.h"
#include "account/auth_records.h"

namespace vellumora {

using StringMap = QList<std::pair<QString, QString>>;

// Fails with a CodingError when the body is not valid JSON, lacks a key, or holds a value of
// another JSON type than the record's field.
template <class T>
AuthResult<T> decodeRecord(QByteArrayView body);

template <>
AuthResult<AuthUser> decodeRecord<AuthUser>(QByteArrayView body);
template <>
AuthResult<AuthResponse> decodeRecord<AuthResponse>(QByteArrayView body);
template <>
AuthResult<MeResponse> decodeRecord<MeResponse>(QByteArrayView body);
template <>
AuthResult<FriendsResponse> decodeRecord<FriendsResponse>(QByteArrayView body);
template <>
AuthResult<PendingResponse> decodeRecord<PendingResponse>(QByteArrayView body);
template <>
AuthResult<FriendRequestResult> decodeRecord<FriendRequestResult>(QByteArrayView body);
template <>
AuthResult<APIErrorEnvelope> decodeRecord<APIErrorEnvelope>(QByteArrayView body);

// A compact JSON object of string members, '/' written as "\/". Fails on text that is not
// valid Unicode (a lone surrogate), which could not be sent as it was typed.
AuthResult<QByteArray> encodeStringMap(const StringMap& members);

}  // namespace vellumora
