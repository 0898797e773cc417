#pragma once
// The app's keyboard shortcuts, listed from the one table the manual is made from and grouped
// by where they work. It stays open beside the window while people try them; Esc closes it.

#include <QDialog>

class QTableWidget;

namespace vellumora {

class ShortcutsDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ShortcutsDialog(QWidget* parent = nullptr);

  private:
    QTableWidget* list_;
};

}  // namespace vellumora
