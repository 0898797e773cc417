#include "camera/views/processing_veil.h"

#include "ui/styles.h"

#include <QPainter>

#include <cmath>

namespace vellumora {

namespace {

constexpr int kSpinnerSide = 36;
constexpr int kSpacing = 10;
constexpr int kSpokes = 12;

}  // namespace

ProcessingVeil::ProcessingVeil(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    spin_.setStartValue(0);
    spin_.setEndValue(kSpokes);
    spin_.setDuration(1000);
    spin_.setLoopCount(-1);
    connect(&spin_, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void ProcessingVeil::showEvent(QShowEvent*) {
    spin_.start();
}
void ProcessingVeil::hideEvent(QHideEvent*) {
    spin_.stop();
}

void ProcessingVeil::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.45f));

    const QFont font = ui::font(ui::TextStyle::caption);
    const QFontMetrics metrics(font);
    const QString text = QStringLiteral("Processing…");
    const int total = kSpinnerSide + kSpacing + metrics.height();
    const QPointF centre(width() / 2.0, (height() - total) / 2.0 + kSpinnerSide / 2.0);

    // Spokes fading behind the leading one, like the platform's indeterminate indicator.
    const int lead = spin_.currentValue().toInt();
    for (int i = 0; i < kSpokes; ++i) {
        const int age = (lead - i + kSpokes) % kSpokes;
        QColor colour = Qt::white;
        colour.setAlphaF(float(1.0 - 0.75 * age / kSpokes));
        painter.setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap));
        const double angle = 2 * M_PI * i / kSpokes;
        const QPointF dir(std::sin(angle), -std::cos(angle));
        painter.drawLine(centre + dir * (kSpinnerSide * 0.25), centre + dir * (kSpinnerSide * 0.48));
    }

    painter.setFont(font);
    painter.setPen(Qt::white);
    const QRectF textRect(0, centre.y() + kSpinnerSide / 2.0 + kSpacing, width(), metrics.height());
    painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop, text);
}

}  // namespace vellumora
