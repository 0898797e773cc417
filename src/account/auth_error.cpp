#include "account/auth_error.h"

namespace vellumora {

QString userMessage(const AuthFailure& failure) {
    struct Visitor {
        QString operator()(const APIError& e) const { return e.message; }
        QString operator()(const TransportError& e) const { return e.description; }
        QString operator()(const CodingError& e) const { return e.description; }
    };
    return std::visit(Visitor{}, failure);
}

}  // namespace vellumora
