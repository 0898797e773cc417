#pragma once
// The current colour as a swatch, with its name and the current tool's name beside it.

#include <QWidget>

class QLabel;

namespace vellumora {

class SessionModel;

class SwatchPreview : public QWidget {
    Q_OBJECT
  public:
    explicit SwatchPreview(SessionModel& session, QWidget* parent = nullptr);

    QString colorName() const;
    QString toolName() const;

  private:
    void refresh();

    SessionModel& session_;
    QWidget* swatch_;
    QLabel* colorName_;
    QLabel* toolName_;
};

}  // namespace vellumora
