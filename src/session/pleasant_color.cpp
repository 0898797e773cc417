#include "session/pleasant_color.h"

#include <QRandomGenerator>

#include "model/drawing_types.h"

namespace vellumora {

namespace {

constexpr double kSaturation = 0.65;
constexpr double kLightness = 0.55;
constexpr double kQ = kLightness + kSaturation - kLightness * kSaturation;
constexpr double kP = 2 * kLightness - kQ;

double channel(double t) {
    if (t < 0) {
        t += 1;
    }
    if (t > 1) {
        t -= 1;
    }
    if (t < 1.0 / 6) {
        return kP + (kQ - kP) * 6 * t;
    }
    if (t < 1.0 / 2) {
        return kQ;
    }
    if (t < 2.0 / 3) {
        return kP + (kQ - kP) * (2.0 / 3 - t) * 6;
    }
    return kP;
}

}  // namespace

QString pleasantColorHex(double h) {
    return QString::fromStdString(hexColorText(channel(h + 1.0 / 3), channel(h), channel(h - 1.0 / 3)));
}

QString randomPleasantColorHex() {
    return pleasantColorHex(QRandomGenerator::global()->generateDouble());
}

}  // namespace vellumora
