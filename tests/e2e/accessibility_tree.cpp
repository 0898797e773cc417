#include "accessibility_tree.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QUuid>

#include <deque>

namespace vellumora::testing {

namespace {

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
constexpr unsigned kStateShowing = 25;  // AT-SPI's ATSPI_STATE_SHOWING

QDBusMessage call(QDBusConnection& bus, const AccessibleNode& node, const QString& interface,
                  const QString& method, const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(node.service, node.path, interface, method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, 2000);
}

}  // namespace

AccessibilityTree::AccessibilityTree(const QString& sessionBus)
    : m_sessionName(QStringLiteral("session-") + QUuid::createUuid().toString(QUuid::Id128)),
      m_a11yName(QStringLiteral("a11y-") + QUuid::createUuid().toString(QUuid::Id128)) {
    QDBusConnection::connectToBus(sessionBus, m_sessionName);
}

AccessibilityTree::~AccessibilityTree() {
    m_a11y.reset();
    QDBusConnection::disconnectFromBus(m_a11yName);
    QDBusConnection::disconnectFromBus(m_sessionName);
}

bool AccessibilityTree::connectAccessibilityBus() {
    if (m_a11y && m_a11y->isConnected()) {
        return true;
    }
    QDBusConnection session(m_sessionName);
    const QDBusReply<QString> address = session.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    if (!address.isValid() || address.value().isEmpty()) {
        return false;
    }
    QDBusConnection a11y = QDBusConnection::connectToBus(address.value(), m_a11yName);
    if (!a11y.isConnected()) {
        QDBusConnection::disconnectFromBus(m_a11yName);
        return false;
    }
    m_a11y = a11y;
    return true;
}

QList<AccessibleNode> AccessibilityTree::children(const AccessibleNode& node) {
    QList<AccessibleNode> out;
    const QDBusMessage reply = call(*m_a11y, node, kAccessible, QStringLiteral("GetChildren"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return out;
    }
    const auto array = reply.arguments().front().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        QString service;
        QDBusObjectPath path;
        array.beginStructure();
        array >> service >> path;
        array.endStructure();
        out.append({service, path.path()});
    }
    array.endArray();
    return out;
}

QString AccessibilityTree::name(const AccessibleNode& node) {
    const QDBusMessage reply = call(*m_a11y, node, QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("Get"), {kAccessible, QStringLiteral("Name")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return {};
    }
    return reply.arguments().front().value<QDBusVariant>().variant().toString();
}

bool AccessibilityTree::showing(const AccessibleNode& node) {
    const QDBusMessage reply = call(*m_a11y, node, kAccessible, QStringLiteral("GetState"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return false;
    }
    const QList<uint> states = qdbus_cast<QList<uint>>(reply.arguments().front());
    return !states.isEmpty() && (states.front() & (1u << kStateShowing));
}

std::optional<AccessibleNode> AccessibilityTree::findShowing(const QString& wanted, bool prefix) {
    if (!connectAccessibilityBus()) {
        return std::nullopt;
    }
    const AccessibleNode registry{QStringLiteral("org.a11y.atspi.Registry"),
                                  QStringLiteral("/org/a11y/atspi/accessible/root")};
    std::deque<AccessibleNode> queue;
    for (const AccessibleNode& app : children(registry)) {
        queue.push_back(app);
    }
    // Hidden subtrees (other pages of a stack, closed menus) are skipped whole.
    int visited = 0;
    while (!queue.empty() && visited++ < 5000) {
        const AccessibleNode node = queue.front();
        queue.pop_front();
        const bool isApp = node.path == QLatin1String("/org/a11y/atspi/accessible/root");
        if (!isApp && !showing(node)) {
            continue;
        }
        const QString found = isApp ? QString() : name(node);
        if (!isApp && (prefix ? found.startsWith(wanted) : found == wanted)) {
            return node;
        }
        for (const AccessibleNode& child : children(node)) {
            queue.push_back(child);
        }
    }
    return std::nullopt;
}

bool AccessibilityTree::press(const AccessibleNode& node) {
    const QDBusMessage reply =
        call(*m_a11y, node, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"), {0});
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace vellumora::testing
