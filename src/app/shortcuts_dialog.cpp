#include "app/shortcuts_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/shortcuts.h"
#include "ui/appearance.h"
#include "ui/styles.h"

namespace vellumora {

namespace {

QTableWidgetItem* cell(const QString& text, const QFont& font) {
    auto* item = new QTableWidgetItem(text);
    item->setFont(font);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

}  // namespace

ShortcutsDialog::ShortcutsDialog(QWidget* parent) : QDialog(parent), list_(new QTableWidget) {
    const QString title = QStringLiteral("Keyboard shortcuts");
    setWindowTitle(title);
    setAccessibleName(title);

    list_->setAccessibleName(title);
    list_->setColumnCount(2);
    list_->setHorizontalHeaderLabels({QStringLiteral("Keys"), QStringLiteral("What it does")});
    list_->verticalHeader()->hide();
    list_->setShowGrid(false);
    list_->setWordWrap(true);
    list_->setTextElideMode(Qt::ElideNone);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setStyleSheet(QStringLiteral("QTableWidget::item { padding: 3px 8px; }"));
    list_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    const QFont heading = ui::font(ui::TextStyle::headline);
    const QFont keys = ui::font(ui::TextStyle::body, QFont::DemiBold);
    const QFont body = ui::font(ui::TextStyle::body);
    std::string_view where;
    for (const Shortcut& s : shortcuts()) {
        int row = list_->rowCount();
        if (row == 0 || s.where != where) {
            where = s.where;
            list_->insertRow(row);
            list_->setSpan(row, 0, 1, 2);
            QTableWidgetItem* group = cell(qText(where), heading);
            group->setForeground(ui::accentColor());
            list_->setItem(row, 0, group);
            ++row;
        }
        list_->insertRow(row);
        list_->setItem(row, 0, cell(shortcutText(s), keys));
        list_->setItem(row, 1, cell(qText(s.what), body));
    }
    // Wrapped descriptions take the height they need at the width they get.
    connect(list_->horizontalHeader(), &QHeaderView::sectionResized, list_,
            &QTableView::resizeRowsToContents);
    list_->setCurrentCell(1, 0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setAccessibleName(QStringLiteral("Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(ui::pt(12));
    auto* label = new QLabel(title);
    ui::setTextStyle(label, ui::TextStyle::title3, QFont::DemiBold);
    layout->addWidget(label);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
    resize(ui::pt(720), ui::pt(640));
    list_->setFocus();
}

}  // namespace vellumora
