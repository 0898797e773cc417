#include "app/page_frame.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

// The warm edge, painted above the content, and the desk showing at the rounded corners.
// (A mask would clip the content too, but masks cost a GL canvas its fast path.)
class PageEdge : public QWidget {
  public:
    explicit PageEdge(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const double line = 0.5;
        QPen pen(QColor::fromRgbF(1.0f, 0.96f, 0.88f, 0.35f), line, Qt::SolidLine, Qt::FlatCap,
                 Qt::MiterJoin);
        painter.setPen(pen);
        const double radius = ui::ptF(3);
        painter.drawRoundedRect(QRectF(rect()).adjusted(line / 2, line / 2, -line / 2, -line / 2), radius,
                                radius);
    }
};

// Coverage of [lo, hi) blurred with a Gaussian of `sigma`, sampled at pixel centres.
std::vector<float> blurredSpan(int length, double lo, double hi, double sigma) {
    std::vector<float> out(static_cast<std::size_t>(std::max(length, 0)));
    const double k = 1.0 / (sigma * std::sqrt(2.0));
    for (int i = 0; i < length; ++i) {
        const double c = i + 0.5;
        out[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 * (std::erf((hi - c) * k) - std::erf((lo - c) * k)));
    }
    return out;
}

struct Shadow {
    double opacity;
    double blurRadius;
    double offsetY;
};

}  // namespace

QImage pageShadow(QSize size, QRect page, qreal devicePixelRatio) {
    const QSize pixels = size * devicePixelRatio;
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty() || page.isEmpty()) {
        return image;
    }
    const Shadow shadows[] = {{0.55, ui::ptF(22), ui::ptF(12)}, {0.35, ui::ptF(4), ui::ptF(2)}};
    std::vector<std::vector<float>> xs;
    std::vector<std::vector<float>> ys;
    for (const Shadow& s : shadows) {
        const double sigma = std::max(0.5, s.blurRadius / 2.0) * devicePixelRatio;
        xs.push_back(blurredSpan(pixels.width(), page.left() * devicePixelRatio,
                                 (page.right() + 1) * devicePixelRatio, sigma));
        ys.push_back(blurredSpan(pixels.height(), (page.top() + s.offsetY) * devicePixelRatio,
                                 (page.bottom() + 1 + s.offsetY) * devicePixelRatio, sigma));
    }
    for (int y = 0; y < pixels.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < pixels.width(); ++x) {
            double alpha = 0;
            for (std::size_t i = 0; i < std::size(shadows); ++i) {
                const double a = shadows[i].opacity * xs[i][static_cast<std::size_t>(x)] *
                                 ys[i][static_cast<std::size_t>(y)];
                alpha = a + alpha * (1.0 - a);
            }
            line[x] = qRgba(0, 0, 0, static_cast<int>(std::lround(std::clamp(alpha, 0.0, 1.0) * 255)));
        }
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

QRect squarePage(QSize size, int margin) {
    const int side = std::max(std::min(size.width(), size.height()) - 2 * margin, 0);
    return {(size.width() - side) / 2, (size.height() - side) / 2, side, side};
}

PageFrame::PageFrame(QWidget* content, QWidget* parent) : QWidget(parent), content_(content) {
    // Placed by hand: no layout keeps a child square.
    content->setParent(this);
    edge_ = new PageEdge(this);
    content->installEventFilter(this);
    placeContent();
}

void PageFrame::placeContent() {
    if (content_) content_->setGeometry(squarePage(size(), ui::pt(24)));
}

void PageFrame::paintEvent(QPaintEvent*) {
    if (content_ && shadow_.size() != size() * devicePixelRatioF()) {
        shadow_ = pageShadow(size(), content_->geometry(), devicePixelRatioF());
    }
    QPainter(this).drawImage(0, 0, shadow_);
}

void PageFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeContent();
    reshape();
}

bool PageFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        reshape();
    }
    return QWidget::eventFilter(watched, event);
}

void PageFrame::reshape() {
    if (!content_) {
        return;
    }
    const QRect page = content_->geometry();
    edge_->setGeometry(page);
    edge_->raise();
    shadow_ = pageShadow(size(), page, devicePixelRatioF());
    update();
}

}  // namespace vellumora
