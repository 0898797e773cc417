#include "app/loading_view.h"

#include <QPainter>
#include <QVBoxLayout>

#include "ui/appearance.h"
#include "ui/busy_spinner.h"
#include "ui/styles.h"

namespace vellumora {

LoadingView::LoadingView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Loading"));
    auto* spinner = new ui::BusySpinner;
    spinner->setColor(Qt::white);
    spinner->setDiameter(ui::pt(40));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(spinner, 0, Qt::AlignCenter);
}

void LoadingView::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), ui::deskColor());
}

}  // namespace vellumora
