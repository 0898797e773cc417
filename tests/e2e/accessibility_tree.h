#pragma once
// Reads a running app's accessibility tree over AT-SPI, the way a screen reader does: finds
// what is on screen by accessible name and presses buttons by their default action.

#include <QDBusConnection>
#include <QString>
#include <optional>

namespace vellumora::testing {

struct AccessibleNode {
    QString service;
    QString path;
};

class AccessibilityTree {
  public:
    // `sessionBus` is the address of the D-Bus session the app runs in.
    explicit AccessibilityTree(const QString& sessionBus);
    ~AccessibilityTree();

    // The first node with this accessible name that is on screen, searched from every
    // application registered with the accessibility bus.
    // With `prefix`, a name that starts with `name` matches too.
    std::optional<AccessibleNode> findShowing(const QString& name, bool prefix = false);
    bool press(const AccessibleNode& node);

  private:
    bool connectAccessibilityBus();
    QList<AccessibleNode> children(const AccessibleNode& node);
    QString name(const AccessibleNode& node);
    bool showing(const AccessibleNode& node);

    QString m_sessionName;
    QString m_a11yName;
    std::optional<QDBusConnection> m_a11y;
};

}  // namespace vellumora::testing
