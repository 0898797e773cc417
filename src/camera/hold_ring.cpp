#include "camera/hold_ring.h"

#include "ui/symbol_icons.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vellumora {

HoldRing::HoldRing(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(kSide, kSide);
    m_arc.setDuration(80);
    connect(&m_arc, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_shown = v.toDouble();
        update();
    });
    m_fade.setDuration(150);
    m_fade.setStartValue(0.0);
    m_fade.setEndValue(1.0);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(&m_fade, &QVariantAnimation::finished, this, [this] {
        if (m_target <= 0) {
            hide();
        }
    });
    hide();
}

void HoldRing::setProgress(double progress) {
    const bool wasShowing = m_target > 0;
    m_target = progress;
    if (progress > 0) {
        m_arc.stop();
        m_arc.setStartValue(m_shown);
        m_arc.setEndValue(progress);
        m_arc.start();
    }
    if (wasShowing != (progress > 0)) {
        m_fade.stop();
        m_fade.setDirection(progress > 0 ? QAbstractAnimation::Forward : QAbstractAnimation::Backward);
        m_fade.start();
        if (progress > 0) {
            m_shown = 0.0;
            show();
            raise();
        }
    }
}

void HoldRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_fade.state() == QAbstractAnimation::Running ? m_fade.currentValue().toDouble()
                                                                     : (m_target > 0 ? 1.0 : 0.0));
    const QRectF disc = QRectF(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.4f));
    painter.drawEllipse(disc);

    const QRectF track = disc.adjusted(8, 8, -8, -8);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.25f), 4));
    painter.drawEllipse(track);

    const QRectF arc = track.adjusted(8, 8, -8, -8);
    painter.setPen(QPen(QColor(52, 199, 89), 4, Qt::SolidLine, Qt::RoundCap));
    // Qt's angles run counter-clockwise from three o'clock in 1/16 degree: start at twelve,
    // grow clockwise.
    painter.drawArc(arc, 90 * 16, -int(std::lround(std::clamp(m_shown, 0.0, 1.0) * 360 * 16)));

    const QIcon icon = ui::symbolIcon(QStringLiteral("camera.fill"), Qt::white);
    const QRect iconRect(QPoint(0, 0), QSize(22, 22));
    icon.paint(&painter, iconRect.translated(rect().center() - iconRect.center()));
}

}  // namespace vellumora
