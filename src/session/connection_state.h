#pragma once
// How the room connection stands, as the session shows it.

#include <QString>

#include <utility>

namespace vellumora {

class ConnectionState {
  public:
    enum class Kind { failed, disconnected, connecting, connected, refused };

    ConnectionState() = default;
    // The connection ended; `reason` is the transport's own description.
    static ConnectionState failed(QString reason) { return {Kind::failed, std::move(reason)}; }
    static ConnectionState disconnected() { return {Kind::disconnected, {}}; }
    static ConnectionState connecting() { return {Kind::connecting, {}}; }
    static ConnectionState connected() { return {Kind::connected, {}}; }
    // The server refused this user the room; nothing is tried again.
    static ConnectionState refused(QString reason) { return {Kind::refused, std::move(reason)}; }

    Kind kind() const { return kind_; }
    bool isFailed() const { return kind_ == Kind::failed; }
    // Empty unless failed or refused.
    const QString& reason() const { return reason_; }

    bool operator==(const ConnectionState&) const = default;

  private:
    ConnectionState(Kind kind, QString reason) : kind_(kind), reason_(std::move(reason)) {}

    Kind kind_ = Kind::disconnected;
    QString reason_;
};

}  // namespace vellumora
