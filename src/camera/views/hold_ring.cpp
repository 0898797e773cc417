#include "camera/views/hold_ring.h"

#include "ui/symbol_icons.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vellumora {

HoldRing::HoldRing(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(kSide, kSide);
    arc_.setDuration(80);
    connect(&arc_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        shown_ = v.toDouble();
        update();
    });
    fade_.setDuration(150);
    fade_.setStartValue(0.0);
    fade_.setEndValue(1.0);
    connect(&fade_, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(&fade_, &QVariantAnimation::finished, this, [this] {
        if (target_ <= 0) {
            hide();
        }
    });
    hide();
}

void HoldRing::setProgress(double progress) {
    const bool wasShowing = target_ > 0;
    target_ = progress;
    if (progress > 0) {
        arc_.stop();
        arc_.setStartValue(shown_);
        arc_.setEndValue(progress);
        arc_.start();
    }
    if (wasShowing != (progress > 0)) {
        fade_.stop();
        fade_.setDirection(progress > 0 ? QAbstractAnimation::Forward : QAbstractAnimation::Backward);
        fade_.start();
        if (progress > 0) {
            shown_ = 0.0;
            show();
            raise();
        }
    }
}

void HoldRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(fade_.state() == QAbstractAnimation::Running ? fade_.currentValue().toDouble()
                                                                    : (target_ > 0 ? 1.0 : 0.0));
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
    painter.drawArc(arc, 90 * 16, -int(std::lround(std::clamp(shown_, 0.0, 1.0) * 360 * 16)));

    const QIcon icon = ui::symbolIcon(QStringLiteral("camera.fill"), Qt::white);
    const QRect iconRect(QPoint(0, 0), QSize(22, 22));
    icon.paint(&painter, iconRect.translated(rect().center() - iconRect.center()));
}

}  // namespace vellumora
