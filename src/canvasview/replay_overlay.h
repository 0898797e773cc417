#pragma once
// How far a room's backlog has been painted: a bar along the top edge of the canvas and a
// label under it. A widget of its own over the GL view, so showing it costs the canvas frames
// nothing (text in the GL frame would be painted by a second GL pipeline).

#include <QWidget>

#include <optional>

namespace vellumora {

class ReplayOverlay : public QWidget {
    Q_OBJECT

  public:
    explicit ReplayOverlay(QWidget* parent = nullptr);

    // Shown while there is a fraction (0…1), hidden without one.
    void setProgress(std::optional<double> progress);
    std::optional<double> progress() const { return m_progress; }
    // The text the label shows now.
    QString text() const;

    // Follows the width of the view it lies over.
    void fitTo(QSize viewSize);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<double> m_progress;
};

}  // namespace vellumora
