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
    QWidget* leading() const { return m_leading; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* m_leading;
    QLabel* m_title;
    QLabel* m_subtitle;
    QLabel* m_check;
    double m_cornerRadius;
    bool m_selected = false;
};

}  // namespace vellumora::ui
