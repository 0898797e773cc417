#include "ui/appearance.h"

#include <QApplication>
#include <QFontInfo>
#include <QPalette>
#include <QStyleFactory>

#include <cmath>

#include "ui/symbol_icons.h"

namespace vellumora::ui {

void installAppearance(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const QColor window(40, 35, 32);
    const QColor text(238, 232, 224);
    const QColor base(30, 26, 24);
    const QColor button(62, 56, 51);
    const QColor accent(10, 132, 255);
    const QColor dimmed(140, 132, 124);

    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window.lighter(115));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 80));
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent.lighter(120));
    p.setColor(QPalette::ToolTipBase, QColor(60, 54, 50));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Light, button.lighter(140));
    p.setColor(QPalette::Midlight, button.lighter(120));
    p.setColor(QPalette::Mid, button.darker(120));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, dimmed);
    }
    p.setColor(QPalette::Disabled, QPalette::Button, window);
    p.setColor(QPalette::Disabled, QPalette::Highlight, button.lighter(130));
    app.setPalette(p);
    // Rounded, clearly bordered text fields; the dark Fusion frame nearly vanishes otherwise.
    app.setStyleSheet(
        QStringLiteral("QLineEdit { border: 1px solid rgba(255, 255, 255, 45); border-radius: %1px;"
                       " padding: %2px %3px; background: rgba(0, 0, 0, 70); }"
                       "QLineEdit:focus { border-color: %4; }")
            .arg(pt(5))
            .arg(pt(3))
            .arg(pt(6))
            .arg(accent.name()));

    installIconTheme();
}

double ptF(double points) {
    const int bodyPixels = QFontInfo(QApplication::font()).pixelSize();
    return points * (bodyPixels > 0 ? bodyPixels : 13) / 13.0;
}

int pt(double points) {
    return static_cast<int>(std::lround(ptF(points)));
}

}  // namespace vellumora::ui
