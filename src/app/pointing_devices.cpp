#include "app/pointing_devices.h"

#include <QGuiApplication>
#include <QInputDevice>
#include <QInputEvent>

namespace vellumora {

namespace {

bool nameHas(const QString& name, std::initializer_list<const char*> words) {
    for (const char* word : words)
        if (name.contains(QLatin1String(word), Qt::CaseInsensitive)) return true;
    return false;
}

void note(PointingDevices& devices, QInputDevice::DeviceType type) {
    switch (type) {
        case QInputDevice::DeviceType::Stylus:
        case QInputDevice::DeviceType::Airbrush:
            devices.pen = true;
            break;
        case QInputDevice::DeviceType::TouchScreen:
            devices.touchscreen = true;
            break;
        case QInputDevice::DeviceType::TouchPad:
            devices.touchpad = true;
            break;
        case QInputDevice::DeviceType::Mouse:
        case QInputDevice::DeviceType::Puck:
            devices.mouse = true;
            break;
        default:
            break;
    }
}

}  // namespace

PointingDevices classifyPointingDevices(const QList<const QInputDevice*>& devices) {
    PointingDevices found;
    for (const QInputDevice* device : devices) {
        const QString name = device->name();
        if (device->type() != QInputDevice::DeviceType::Mouse) {
            note(found, device->type());
        } else if (nameHas(name, {"touchpad", "trackpad", "track pad", "glidepoint"})) {
            found.touchpad = true;
        } else if (!nameHas(name, {"virtual core", "xtest"})) {
            // The X server's own pointers stand for every device, not for one.
            found.mouse = true;
        }
    }
    if (found == PointingDevices{}) found.mouse = true;
    return found;
}

QStringList howToColor(const PointingDevices& devices) {
    QStringList paragraphs;
    if (devices.pen) {
        paragraphs << QStringLiteral(
            "Pen: touch the paper to color. While it hovers, your friends see where it is.");
    }
    if (devices.touchscreen) {
        paragraphs << QStringLiteral("Touchscreen: one finger colors. Two fingers move and zoom the page.");
    }
    if (devices.mouse) {
        paragraphs << QStringLiteral(
            "Mouse: drag on the paper to color. Drag with the right button, or hold Space and drag, to "
            "move the page; Ctrl + wheel zooms.");
    }
    if (devices.touchpad) {
        paragraphs << QStringLiteral(
            "Touchpad: press Space and it becomes the paper. Hold the click down and move to color; move "
            "without it to go elsewhere. Space again frees the pointer.");
    }
    return paragraphs;
}

QString howToStart(const PointingDevices& devices) {
    if (devices.pen) return QStringLiteral("Then color with your pen, right on the paper.");
    if (devices.touchscreen) return QStringLiteral("Then color with a finger, right on the screen.");
    if (devices.mouse) return QStringLiteral("Then drag on the paper with your mouse to color.");
    return QStringLiteral("Then press Space, and your touchpad is the paper.");
}

PointingDevicesWatch::PointingDevicesWatch(QObject* parent) : QObject(parent) {
    refresh();
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        app->installEventFilter(this);
        // A tablet plugged in meanwhile is listed when the person comes back to the window.
        QObject::connect(app, &QGuiApplication::applicationStateChanged, this,
                         [this](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive) refresh();
                         });
    }
}

void PointingDevicesWatch::refresh() {
    PointingDevices found = classifyPointingDevices(QInputDevice::devices());
    // What was seen in use stays known.
    found.pen |= devices_.pen;
    found.touchscreen |= devices_.touchscreen;
    set(found);
}

void PointingDevicesWatch::set(const PointingDevices& devices) {
    if (devices == devices_) return;
    devices_ = devices;
    emit devicesChanged();
}

bool PointingDevicesWatch::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::TabletEnterProximity:
        case QEvent::TabletPress:
        case QEvent::TouchBegin:
            if (const QInputDevice* device = static_cast<QInputEvent*>(event)->device()) {
                if (device->type() != QInputDevice::DeviceType::TouchPad &&
                    device->type() != QInputDevice::DeviceType::Mouse) {
                    PointingDevices seen = devices_;
                    note(seen, device->type());
                    set(seen);
                }
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vellumora
