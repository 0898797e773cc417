#pragma once
// A plain button for one choice of a list: a leading mark, a title over an optional subtitle
// and, when it is the current choice, a checkmark on a tinted rounded background.

#include <QAbstractButton>
#include <QFont>

class QLabel;

namespace vellumora::ui {

class SelectableRow : public QAbstractButton {
    Q_OBJECT
  public:
    // `padding` is the inner margin; `cornerRadius` that of the selection background.
    SelectableRow(QWidget* leading, const QFont& titleFont, QMargins padding, double cornerRadius,
                  QWidget* parent = nullptr);

    // An empty subtitle takes no room.
    void setTexts(const QString& title, const QString& subtitle = {});
    QString title() const;
    QString subtitle() const;
    QWidget* leading() const { return leading_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* leading_;
    QLabel* title_;
    QLabel* subtitle_;
    QLabel* check_;
    double cornerRadius_;
    bool selected_ = false;
};

}  // namespace vellumora::ui
