#include "account/auth_json.h"

#include <simdjson.h>

#include "model/json_writer.h"

#include <string>
#include <string_view>

namespace vellumora {
namespace {

using simdjson::dom::element;
using simdjson::dom::object;

// Thrown inside this file only; every entry point turns it into a CodingError.
struct DecodeFailure {
    QString description;
};

QString qstr(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

[[noreturn]] void fail(const std::string& path, const char* what) {
    throw DecodeFailure{QStringLiteral("The server's answer could not be read (%1 %2).")
                            .arg(QString::fromStdString(path), QString::fromLatin1(what))};
}

element member(object obj, const std::string& path, std::string_view key) {
    element value;
    const auto error = obj.at_key(key).get(value);
    if (error == simdjson::NO_SUCH_FIELD) {
        fail(path, "is missing");
    }
    if (error) {
        fail(path, "is unreadable");
    }
    return value;
}

std::string join(const std::string& parent, std::string_view key) {
    return parent.empty() ? std::string(key) : parent + "." + std::string(key);
}

QString stringAt(object obj, const std::string& parent, std::string_view key) {
    const auto path = join(parent, key);
    std::string_view text;
    if (member(obj, path, key).get_string().get(text)) {
        fail(path, "is not a string");
    }
    return qstr(text);
}

bool boolAt(object obj, const std::string& parent, std::string_view key) {
    const auto path = join(parent, key);
    bool value = false;
    if (member(obj, path, key).get_bool().get(value)) {
        fail(path, "is not a boolean");
    }
    return value;
}

double doubleAt(object obj, const std::string& parent, std::string_view key) {
    const auto path = join(parent, key);
    double value = 0;
    if (member(obj, path, key).get_double().get(value)) {
        fail(path, "is not a number");
    }
    return value;
}

object asObject(element value, const std::string& path) {
    object obj;
    if (value.get_object().get(obj)) {
        fail(path.empty() ? std::string("the answer") : path, "is not an object");
    }
    return obj;
}

object objectAt(object obj, const std::string& parent, std::string_view key) {
    const auto path = join(parent, key);
    return asObject(member(obj, path, key), path);
}

simdjson::dom::array arrayAt(object obj, const std::string& parent, std::string_view key) {
    const auto path = join(parent, key);
    simdjson::dom::array array;
    if (member(obj, path, key).get_array().get(array)) {
        fail(path, "is not an array");
    }
    return array;
}

AuthUser readUser(object obj, const std::string& path) {
    return AuthUser{stringAt(obj, path, "id"), stringAt(obj, path, "username"),
                    stringAt(obj, path, "displayName")};
}

FriendDTO readFriend(object obj, const std::string& path) {
    return FriendDTO{stringAt(obj, path, "id"), stringAt(obj, path, "username"),
                     stringAt(obj, path, "displayName"), boolAt(obj, path, "online")};
}

PendingRequestDTO readRequest(object obj, const std::string& path) {
    return PendingRequestDTO{stringAt(obj, path, "requesterId"), stringAt(obj, path, "username"),
                             stringAt(obj, path, "displayName"), doubleAt(obj, path, "createdAt")};
}

template <class T, class Read>
AuthResult<T> decodeWith(QByteArrayView body, Read read) {
    thread_local simdjson::dom::parser parser;
    try {
        element root;
        if (body.isEmpty()) {
            throw DecodeFailure{QStringLiteral("The server's answer is empty.")};
        }
        if (parser.parse(body.data(), static_cast<std::size_t>(body.size())).get(root)) {
            throw DecodeFailure{QStringLiteral("The server's answer is not valid JSON.")};
        }
        return AuthResult<T>(read(asObject(root, {})));
    } catch (const DecodeFailure& failure) {
        return AuthResult<T>(AuthFailure(CodingError{failure.description}));
    }
}

template <class Item, class Read>
QList<Item> readList(simdjson::dom::array array, const std::string& path, Read read) {
    QList<Item> items;
    items.reserve(static_cast<qsizetype>(array.size()));
    std::size_t index = 0;
    for (element value : array) {
        const auto itemPath = path + "[" + std::to_string(index++) + "]";
        items.push_back(read(asObject(value, itemPath), itemPath));
    }
    return items;
}

bool hasLoneSurrogate(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            return true;
        }
    }
    return false;
}

}  // namespace

template <>
AuthResult<AuthUser> decodeRecord<AuthUser>(QByteArrayView body) {
    return decodeWith<AuthUser>(body, [](object root) { return readUser(root, {}); });
}

template <>
AuthResult<AuthResponse> decodeRecord<AuthResponse>(QByteArrayView body) {
    return decodeWith<AuthResponse>(body, [](object root) {
        return AuthResponse{stringAt(root, {}, "token"), readUser(objectAt(root, {}, "user"), "user")};
    });
}

template <>
AuthResult<MeResponse> decodeRecord<MeResponse>(QByteArrayView body) {
    return decodeWith<MeResponse>(
        body, [](object root) { return MeResponse{readUser(objectAt(root, {}, "user"), "user")}; });
}

template <>
AuthResult<FriendsResponse> decodeRecord<FriendsResponse>(QByteArrayView body) {
    return decodeWith<FriendsResponse>(body, [](object root) {
        return FriendsResponse{readList<FriendDTO>(arrayAt(root, {}, "friends"), "friends", readFriend)};
    });
}

template <>
AuthResult<PendingResponse> decodeRecord<PendingResponse>(QByteArrayView body) {
    return decodeWith<PendingResponse>(body, [](object root) {
        return PendingResponse{
            readList<PendingRequestDTO>(arrayAt(root, {}, "requests"), "requests", readRequest)};
    });
}

template <>
AuthResult<FriendRequestResult> decodeRecord<FriendRequestResult>(QByteArrayView body) {
    return decodeWith<FriendRequestResult>(body, [](object root) {
        return FriendRequestResult{stringAt(root, {}, "status"),
                                   readUser(objectAt(root, {}, "target"), "target")};
    });
}

template <>
AuthResult<APIErrorEnvelope> decodeRecord<APIErrorEnvelope>(QByteArrayView body) {
    return decodeWith<APIErrorEnvelope>(
        body, [](object root) { return APIErrorEnvelope{stringAt(root, {}, "error")}; });
}

AuthResult<QByteArray> encodeStringMap(const StringMap& members) {
    std::string out;
    json::Writer writer(out);
    writer.beginObject();
    for (const auto& [key, value] : members) {
        if (hasLoneSurrogate(key) || hasLoneSurrogate(value)) {
            return AuthFailure(
                CodingError{QStringLiteral("The text contains characters that cannot be sent.")});
        }
        const QByteArray keyUtf8 = key.toUtf8();
        const QByteArray valueUtf8 = value.toUtf8();
        writer.key(std::string_view(keyUtf8.constData(), std::size_t(keyUtf8.size())));
        writer.string(std::string_view(valueUtf8.constData(), std::size_t(valueUtf8.size())));
    }
    writer.endObject();
    return QByteArray(out.data(), qsizetype(out.size()));
}

}  // namespace vellumora
