#pragma once
// Whether anybody can see a widget: it is shown, and its window is exposed (not minimised, not
// on another workspace) and, on X11, not fully covered by other windows, which the toolkit
// does not report by itself.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;

namespace vellumora {

class WindowVisibility : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

  public:
    // Lives as a child of `widget`, which it watches.
    explicit WindowVisibility(QWidget& widget);
    ~WindowVisibility() override;

    bool isVisible() const { return visible_; }
    // Looks again (the widget was shown, hidden or moved to another window).
    void refresh();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  signals:
    void visibleChanged(bool visible);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void watch(QWindow* window);

    QWidget& widget_;
    QPointer<QWindow> window_;
    unsigned nativeWindow_ = 0;  // the X11 window, when there is one
    bool obscured_ = false;
    bool visible_ = false;
};

}  // namespace vellumora
