#pragma once
// The named text styles and colours of the views, derived in one place from the application's
// font and palette, so a larger system font or another palette carries through everywhere.

#include <QColor>
#include <QFont>
#include <QLinearGradient>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace vellumora::ui {

enum class TextStyle { largeTitle, title, title3, headline, subheadline, body, caption, caption2 };

// The application font resized for the style; headline is semibold, the others regular
// unless a weight is given.
QFont font(TextStyle style);
QFont font(TextStyle style, QFont::Weight weight);

// Applies a style's font to a widget.
void setTextStyle(QWidget* widget, TextStyle style, QFont::Weight weight = QFont::Normal);

// A label in a text style; an invalid colour keeps the palette's text colour.
QLabel* label(const QString& text, TextStyle style, QFont::Weight weight = QFont::Normal,
              const QColor& color = {});
// The colour of a widget's text (labels and buttons alike).
void setTextColor(QWidget* widget, const QColor& color);
// The primary action: filled with the accent colour, white text.
void makeProminent(QPushButton* button);
// A thin separator line.
QFrame* separator(Qt::Orientation orientation, const QColor& color);

// The dark desk behind the page and the login form: a diagonal gradient over `rect`, and the
// darker of its two colours.
QLinearGradient deskGradient(const QRectF& rect);
QColor deskColor();

// "Accent" and "tint" are the palette's highlight.
QColor accentColor();
// Secondary text: the palette's text colour at reduced strength.
QColor secondaryTextColor();
QColor primaryTextColor();
// Actions that destroy something, and error messages.
QColor destructiveColor();

}  // namespace vellumora::ui
