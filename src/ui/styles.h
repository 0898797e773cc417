#pragma once
// The named text styles and colours of the views, derived in one place from the application's
// font and palette, so a larger system font or another palette carries through everywhere.

#include <QColor>
#include <QFont>

class QWidget;

namespace vellumora::ui {

enum class TextStyle { largeTitle, title, title3, headline, subheadline, body, caption, caption2 };

// The application font resized for the style; headline is semibold, the others regular
// unless a weight is given.
QFont font(TextStyle style);
QFont font(TextStyle style, QFont::Weight weight);

// Applies a style's font to a widget.
void setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight = QFont::Normal);

// "Accent" and "tint" are the palette's highlight.
QColor accentColor();
// Secondary text: the palette's text colour at reduced strength.
QColor secondaryTextColor();
QColor primaryTextColor();
// Actions that destroy something, and error messages.
QColor destructiveColor();

}  // namespace vellumora::ui
