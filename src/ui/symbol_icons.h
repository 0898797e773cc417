#pragma once
// Icons by the symbol names the design uses ("camera.fill", "checkmark.circle.fill"), mapped in
// one table onto freedesktop theme names or, where no theme has a fitting icon, onto our own
// SVGs, so a missing icon is a one-line fix. The Adwaita theme
// is the fallback wherever the desktop's own theme lacks a name.

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

class QLabel;

namespace vellumora::ui {

// The theme name (or resource path) a symbol maps to; empty for a symbol the table does not know.
QString themeIconName(const QString& symbol);
// Every symbol the table knows, for checks that each one resolves.
QStringList knownSymbols();

// The symbol's theme icon (null for an unknown symbol). Symbolic icons are single-colour
// outlines; with a tint every opaque pixel takes the tint's colour, keeping its alpha.
QIcon symbolIcon(const QString& symbol);
QIcon symbolIcon(const QString& symbol, const QColor& tint);

// Shows a symbol on a label, tinted, `logicalSize` pixels square at the label's pixel ratio.
void setSymbol(QLabel* label, const QString& symbol, const QColor& tint, int logicalSize);

// Sets Adwaita as the fallback theme; call once after the application object exists.
void installIconTheme();

}  // namespace vellumora::ui
