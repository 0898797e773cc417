#pragma once
// How an account call fails, and the result type every asynchronous call delivers.

#include <QString>
#include <utility>
#include <variant>

namespace vellumora {

// An unsuccessful answer of the service. statusCode is -1 when the answer was not HTTP.
struct APIError {
    QString message;
    int statusCode = -1;
    bool operator==(const APIError&) const = default;
};

// The HTTP stack gave up: no connection, timeout, TLS failure, cancellation.
struct TransportError {
    int networkError = 0;  // QNetworkReply::NetworkError
    QString description;
    bool operator==(const TransportError&) const = default;
};

// A request that could not be encoded, or a successful answer that is not the expected record.
struct CodingError {
    QString description;
    bool operator==(const CodingError&) const = default;
};

using AuthFailure = std::variant<APIError, TransportError, CodingError>;

// The text shown to the user: the service's message for an APIError, else the description.
QString userMessage(const AuthFailure& failure);

// The result of a call with nothing to return.
struct Done {
    bool operator==(const Done&) const = default;
};

template <class T>
class AuthResult {
  public:
    AuthResult(T value) : value_(std::in_place_index<0>, std::move(value)) {}
    AuthResult(AuthFailure failure) : value_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return value_.index() == 0; }
    const T& value() const& { return std::get<0>(value_); }
    T&& value() && { return std::get<0>(std::move(value_)); }
    const AuthFailure& failure() const { return std::get<1>(value_); }
    // Null unless the failure is an APIError.
    const APIError* apiError() const { return ok() ? nullptr : std::get_if<APIError>(&failure()); }

  private:
    std::variant<T, AuthFailure> value_;
};

}  // namespace vellumora
