#pragma once
// Which devices this person can colour with, so the help says what to do with theirs. The
// toolkit lists what the window system announces (a pen tablet, a touchscreen); on X11 a
// touchpad is announced as a mouse and told apart only by its name. A pen or touchscreen that
// the list missed is learnt as soon as it is used.

#include <QList>
#include <QObject>
#include <QString>

class QInputDevice;

namespace vellumora {

struct PointingDevices {
    bool pen = false;
    bool touchscreen = false;
    bool mouse = false;
    bool touchpad = false;
    bool operator==(const PointingDevices&) const = default;
};

// What a list of devices holds; a mouse when it names none (a bare X server, a Wayland seat).
PointingDevices classifyPointingDevices(const QList<const QInputDevice*>& devices);

// One short paragraph per device, most direct first (pen, touchscreen, mouse, touchpad).
QStringList howToColor(const PointingDevices& devices);
// One line for the desk while no room is open, about the most direct device.
QString howToStart(const PointingDevices& devices);

// The devices of this machine, updated when the application becomes active again and when a
// pen or touchscreen is first used.
class PointingDevicesWatch : public QObject {
    Q_OBJECT

  public:
    explicit PointingDevicesWatch(QObject* parent = nullptr);

    const PointingDevices& devices() const { return devices_; }

  signals:
    void devicesChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void refresh();
    void set(const PointingDevices& devices);

    PointingDevices devices_;
};

}  // namespace vellumora
