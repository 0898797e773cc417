#include "app/swatch_preview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "session/session_model.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

class ColorSquare : public QWidget {
  public:
    ColorSquare() { setFixedSize(ui::pt(36), ui::pt(36)); }
    void setColor(const QColor& color) {
        color_ = color;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(color_);
        painter.setPen(QPen(QColor(0, 0, 0, 51), 1.0));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), ui::ptF(6), ui::ptF(6));
    }

  private:
    QColor color_;
};

}  // namespace

SwatchPreview::SwatchPreview(SessionModel& session, QWidget* parent)
    : QWidget(parent),
      session_(session),
      swatch_(new ColorSquare),
      colorName_(new QLabel),
      toolName_(new QLabel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(ui::pt(6));
    auto* heading = new QLabel(QStringLiteral("Current color"));
    ui::setTextStyle(heading, ui::TextStyle::headline);
    layout->addWidget(heading);

    ui::setTextStyle(colorName_, ui::TextStyle::subheadline, QFont::Medium);
    ui::setTextStyle(toolName_, ui::TextStyle::caption);
    ui::setTextColor(toolName_, ui::secondaryTextColor());
    auto* names = new QVBoxLayout;
    names->setSpacing(ui::pt(2));
    names->addWidget(colorName_);
    names->addWidget(toolName_);
    auto* row = new QHBoxLayout;
    row->setSpacing(ui::pt(8));
    row->addWidget(swatch_, 0, Qt::AlignVCenter);
    row->addLayout(names, 1);
    layout->addLayout(row);

    connect(&session_, &SessionModel::colorChanged, this, &SwatchPreview::refresh);
    connect(&session_, &SessionModel::toolChanged, this, &SwatchPreview::refresh);
    refresh();
}

QString SwatchPreview::colorName() const {
    return colorName_->text();
}

QString SwatchPreview::toolName() const {
    return toolName_->text();
}

void SwatchPreview::refresh() {
    const ArtColor& c = session_.color();
    static_cast<ColorSquare*>(swatch_)->setColor(
        QColor::fromRgbF(static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b)));
    colorName_->setText(QString::fromStdString(c.name));
    const std::string_view tool = displayName(session_.tool());
    toolName_->setText(QString::fromUtf8(tool.data(), static_cast<qsizetype>(tool.size())));
}

}  // namespace vellumora
