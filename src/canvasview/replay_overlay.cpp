#include "canvasview/replay_overlay.h"

#include "ui/styles.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vellumora {

namespace {

constexpr int kBarHeight = 4;

QFont labelFont() {
    return ui::font(ui::TextStyle::subheadline, QFont::DemiBold);
}

}  // namespace

ReplayOverlay::ReplayOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void ReplayOverlay::setProgress(std::optional<double> progress) {
    if (progress) progress = std::clamp(*progress, 0.0, 1.0);
    // Only whole percents show: a repaint for each slice would be wasted.
    const auto shown = [](std::optional<double> p) { return p ? static_cast<int>(*p * 100) : -1; };
    const bool changed = shown(progress) != shown(m_progress) || !progress || !m_progress;
    m_progress = progress;
    if (!changed) return;
    setAccessibleName(progress ? text() : QString());
    setVisible(progress.has_value());
    if (progress) {
        raise();
        update();
    }
}

QString ReplayOverlay::text() const {
    return QStringLiteral("Loading drawing… %1 %").arg(static_cast<int>(m_progress.value_or(0) * 100));
}

void ReplayOverlay::fitTo(QSize viewSize) {
    const QFontMetrics metrics(labelFont());
    // Bar, gap, label with its padding, and room for the antialiased edge.
    setGeometry(0, 0, viewSize.width(), kBarHeight + 3 * metrics.height() + 2);
}

void ReplayOverlay::paintEvent(QPaintEvent*) {
    if (!m_progress) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // A thin bar along the top edge, filled as far as the drawing has been painted.
    painter.fillRect(QRect(0, 0, width(), kBarHeight), QColor(0, 0, 0, 60));
    painter.fillRect(QRectF(0, 0, width() * *m_progress, kBarHeight), ui::accentColor());

    const QString label = text();
    const QFont font = labelFont();
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int padX = metrics.height();
    const int padY = metrics.height() / 2;
    const QSize textSize = metrics.size(Qt::TextSingleLine, label);
    const QRect pill((width() - textSize.width()) / 2 - padX, kBarHeight + padY, textSize.width() + 2 * padX,
                     textSize.height() + 2 * padY);
    QPainterPath path;
    path.addRoundedRect(pill, pill.height() / 2.0, pill.height() / 2.0);
    painter.fillPath(path, QColor(20, 20, 24, 200));
    painter.setPen(Qt::white);
    painter.drawText(pill, Qt::AlignCenter, label);
}

}  // namespace vellumora
