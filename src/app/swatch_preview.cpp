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
        m_color = color;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(m_color);
        painter.setPen(QPen(QColor(0, 0, 0, 51), 1.0));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), ui::ptF(6), ui::ptF(6));
    }

  private:
    QColor m_color;
};

}  // namespace

SwatchPreview::SwatchPreview(SessionModel& session, QWidget* parent)
    : QWidget(parent),
      m_session(session),
      m_swatch(new ColorSquare),
      m_colorName(new QLabel),
      m_toolName(new QLabel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(ui::pt(6));
    auto* heading = new QLabel(QStringLiteral("Current color"));
    ui::setTextStyle(heading, ui::TextStyle::headline);
    layout->addWidget(heading);

    ui::setTextStyle(m_colorName, ui::TextStyle::subheadline, QFont::Medium);
    ui::setTextStyle(m_toolName, ui::TextStyle::caption);
    ui::setTextColor(m_toolName, ui::secondaryTextColor());
    auto* names = new QVBoxLayout;
    names->setSpacing(ui::pt(2));
    names->addWidget(m_colorName);
    names->addWidget(m_toolName);
    auto* row = new QHBoxLayout;
    row->setSpacing(ui::pt(8));
    row->addWidget(m_swatch, 0, Qt::AlignVCenter);
    row->addLayout(names, 1);
    layout->addLayout(row);

    connect(&m_session, &SessionModel::colorChanged, this, &SwatchPreview::refresh);
    connect(&m_session, &SessionModel::toolChanged, this, &SwatchPreview::refresh);
    refresh();
}

QString SwatchPreview::colorName() const {
    return m_colorName->text();
}

QString SwatchPreview::toolName() const {
    return m_toolName->text();
}

void SwatchPreview::refresh() {
    const ArtColor& c = m_session.color();
    static_cast<ColorSquare*>(m_swatch)->setColor(
        QColor::fromRgbF(static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b)));
    m_colorName->setText(QString::fromStdString(c.name));
    const std::string_view tool = displayName(m_session.tool());
    m_toolName->setText(QString::fromUtf8(tool.data(), static_cast<qsizetype>(tool.size())));
}

}  // namespace vellumora
